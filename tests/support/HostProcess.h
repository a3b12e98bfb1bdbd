// vesk-host run as its own process, the way scripts and users run it: for tests that need a fresh
// process (a second run of a render, a run in another second) or the command line itself.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace vesk::test {

// Runs vesk-host with the plug-in file and `args`; its standard output goes to `stdoutPath` (or
// nowhere). Returns the exit status, -1 when it could not run or ended abnormally.
inline int runVeskHost(const std::vector<std::string>& args, const std::string& stdoutPath = {})
{
    std::vector<std::string> all = {VESK_HOST_PATH, "--plugin", VESK_CLAP_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO,
                                     stdoutPath.empty() ? "/dev/null" : stdoutPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

inline std::vector<uint8_t> fileBytes(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f),
                                std::istreambuf_iterator<char>());
}

inline std::string fileText(const std::string& path)
{
    const std::vector<uint8_t> b = fileBytes(path);
    return std::string(b.begin(), b.end());
}

// The numbers that follow each occurrence of `"key": ` in a JSON text, in order.
inline std::vector<double> jsonNumbers(const std::string& json, const std::string& key)
{
    std::vector<double> out;
    const std::string needle = "\"" + key + "\": ";
    for (size_t at = json.find(needle); at != std::string::npos;
         at = json.find(needle, at + needle.size()))
        out.push_back(std::strtod(json.c_str() + at + needle.size(), nullptr));
    return out;
}

} // namespace vesk::test
