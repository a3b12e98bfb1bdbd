#include "ParamOptions.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>

namespace vesk::host {

namespace {

std::vector<std::string> fields(const std::string& s)
{
    std::vector<std::string> parts;
    std::stringstream ss(s);
    std::string item;
    while (std::getline(ss, item, ':'))
        parts.push_back(item);
    return parts;
}

// A number as written, "nan", "inf" and "-inf" included (bad input is what some tests send).
bool number(const std::string& s, double& out)
{
    char* end = nullptr;
    out = std::strtod(s.c_str(), &end);
    return !s.empty() && end != s.c_str() && *end == '\0';
}

bool frame(const std::string& s, uint64_t& out)
{
    double f = 0.0;
    if (!number(s, f) || !std::isfinite(f) || f < 0.0 || f > 1.0e12)
        return false;
    out = uint64_t(f);
    return true;
}

bool paramId(const std::string& s, uint32_t& out)
{
    double id = 0.0;
    if (!number(s, id) || !(id >= 0.0 && id <= 4294967295.0) || id != std::floor(id))
        return false;
    out = uint32_t(id);
    return true;
}

TimedEvent paramEvent(TimedEvent::Kind kind, uint64_t at, uint32_t id, double v)
{
    TimedEvent e;
    e.kind = kind;
    e.frame = at;
    e.paramId = id;
    e.paramValue = v;
    return e;
}

} // namespace

const char* ParamOptions::usage()
{
    return "  --param F:ID:VALUE    host automation: parameter ID set to VALUE at frame F\n"
           "  --param-ramp F0:F1:ID:FROM:TO[:STEP]\n"
           "                        a linear automation ramp from frame F0 (FROM) to F1 (TO), one\n"
           "                        value every STEP frames (default 64) and one at F1\n"
           "  --param-mod F:ID:AMOUNT  modulation amount (clap param_mod) of ID from frame F\n"
           "  --param-flush ID:VALUE   after rendering, set ID through clap.params flush (before\n"
           "                        --save-state), as a host does while it does not process\n"
           "  --list-params         print the parameters (ids, names, ranges, flags, values and\n"
           "                        their texts) as JSON and exit\n";
}

bool ParamOptions::parse(const std::string& arg, const std::function<std::string()>& value,
                         std::vector<TimedEvent>& events, std::string& error)
{
    if (arg == "--list-params") {
        listParams = true;
        return true;
    }
    if (arg == "--param" || arg == "--param-mod") {
        const auto p = fields(value());
        uint64_t at = 0;
        uint32_t id = 0;
        double v = 0.0;
        if (p.size() != 3 || !frame(p[0], at) || !paramId(p[1], id) || !number(p[2], v)) {
            error = "bad " + arg + " (F:ID:" + (arg == "--param" ? "VALUE)" : "AMOUNT)");
            return true;
        }
        events.push_back(
            paramEvent(arg == "--param" ? TimedEvent::Kind::ParamValue : TimedEvent::Kind::ParamMod,
                       at, id, v));
        return true;
    }
    if (arg == "--param-ramp") {
        const auto p = fields(value());
        uint64_t f0 = 0, f1 = 0, step = 64;
        uint32_t id = 0;
        double from = 0.0, to = 0.0;
        if ((p.size() != 5 && p.size() != 6) || !frame(p[0], f0) || !frame(p[1], f1) || f1 < f0 ||
            !paramId(p[2], id) || !number(p[3], from) || !number(p[4], to) ||
            !std::isfinite(from) || !std::isfinite(to) || (p.size() == 6 && !frame(p[5], step)) ||
            step == 0 || (f1 - f0) / step > 10000000) {
            error = "bad --param-ramp (F0:F1:ID:FROM:TO[:STEP])";
            return true;
        }
        for (uint64_t f = f0;; f += step) {
            const uint64_t at = std::min(f, f1);
            const double t = f1 > f0 ? double(at - f0) / double(f1 - f0) : 1.0;
            events.push_back(
                paramEvent(TimedEvent::Kind::ParamValue, at, id, from + (to - from) * t));
            if (at == f1)
                break;
        }
        return true;
    }
    if (arg == "--param-flush") {
        const auto p = fields(value());
        uint32_t id = 0;
        double v = 0.0;
        if (p.size() != 2 || !paramId(p[0], id) || !number(p[1], v)) {
            error = "bad --param-flush (ID:VALUE)";
            return true;
        }
        flushes.push_back(paramEvent(TimedEvent::Kind::ParamValue, 0, id, v));
        return true;
    }
    return false;
}

} // namespace vesk::host
