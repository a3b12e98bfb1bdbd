#include "Json.h"

#include <cstdlib>
#include <cstring>

namespace vesk::editor_test {

namespace {

const Json& nullJson()
{
    static const Json null;
    return null;
}

} // namespace

class JsonParser
{
public:
    explicit JsonParser(const std::string& text) : s_(text) {}

    bool document(Json& out)
    {
        if (!value(out, 0))
            return false;
        skip();
        if (pos_ != s_.size())
            return fail("text after the value");
        return true;
    }
    std::string error;

private:
    static constexpr int kMaxDepth = 200;

    bool fail(const std::string& what)
    {
        if (error.empty())
            error = what + " at offset " + std::to_string(pos_);
        return false;
    }
    void skip()
    {
        while (pos_ < s_.size() && std::strchr(" \t\r\n", s_[pos_]) != nullptr)
            ++pos_;
    }
    bool literal(const char* word)
    {
        const size_t n = std::strlen(word);
        if (s_.compare(pos_, n, word) != 0)
            return false;
        pos_ += n;
        return true;
    }
    bool value(Json& out, int depth)
    {
        if (depth > kMaxDepth)
            return fail("nested too deep");
        skip();
        if (pos_ >= s_.size())
            return fail("unexpected end");
        const char c = s_[pos_];
        if (c == '{')
            return object(out, depth);
        if (c == '[')
            return array(out, depth);
        if (c == '"') {
            out.type_ = Json::Type::String;
            return string(out.string_);
        }
        if (literal("true") || literal("false")) {
            out.type_ = Json::Type::Bool;
            out.bool_ = c == 't';
            return true;
        }
        if (literal("null")) {
            out.type_ = Json::Type::Null;
            return true;
        }
        const char* start = s_.c_str() + pos_;
        char* end = nullptr;
        const double v = std::strtod(start, &end);
        if (end == start)
            return fail("unexpected character");
        out.type_ = Json::Type::Number;
        out.number_ = v;
        pos_ += size_t(end - start);
        return true;
    }
    bool object(Json& out, int depth)
    {
        out.type_ = Json::Type::Object;
        ++pos_;
        skip();
        if (pos_ < s_.size() && s_[pos_] == '}') {
            ++pos_;
            return true;
        }
        for (;;) {
            skip();
            std::string key;
            if (pos_ >= s_.size() || s_[pos_] != '"' || !string(key))
                return fail("expected a member name");
            skip();
            if (pos_ >= s_.size() || s_[pos_] != ':')
                return fail("expected ':'");
            ++pos_;
            Json member;
            if (!value(member, depth + 1))
                return false;
            out.object_[key] = std::move(member);
            skip();
            if (pos_ < s_.size() && s_[pos_] == ',') {
                ++pos_;
                continue;
            }
            if (pos_ < s_.size() && s_[pos_] == '}') {
                ++pos_;
                return true;
            }
            return fail("expected ',' or '}'");
        }
    }
    bool array(Json& out, int depth)
    {
        out.type_ = Json::Type::Array;
        ++pos_;
        skip();
        if (pos_ < s_.size() && s_[pos_] == ']') {
            ++pos_;
            return true;
        }
        for (;;) {
            Json element;
            if (!value(element, depth + 1))
                return false;
            out.array_.push_back(std::move(element));
            skip();
            if (pos_ < s_.size() && s_[pos_] == ',') {
                ++pos_;
                continue;
            }
            if (pos_ < s_.size() && s_[pos_] == ']') {
                ++pos_;
                return true;
            }
            return fail("expected ',' or ']'");
        }
    }
    static void appendUtf8(std::string& out, unsigned cp)
    {
        if (cp < 0x80) {
            out += char(cp);
        } else if (cp < 0x800) {
            out += char(0xC0 | (cp >> 6));
            out += char(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += char(0xE0 | (cp >> 12));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        } else {
            out += char(0xF0 | (cp >> 18));
            out += char(0x80 | ((cp >> 12) & 0x3F));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        }
    }
    bool hex4(unsigned& out)
    {
        if (pos_ + 4 > s_.size())
            return fail("short \\u escape");
        out = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = s_[pos_++];
            out <<= 4;
            if (c >= '0' && c <= '9')
                out |= unsigned(c - '0');
            else if (c >= 'a' && c <= 'f')
                out |= unsigned(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                out |= unsigned(c - 'A' + 10);
            else
                return fail("bad \\u escape");
        }
        return true;
    }
    bool string(std::string& out)
    {
        ++pos_; // the opening quote
        while (pos_ < s_.size()) {
            const char c = s_[pos_++];
            if (c == '"')
                return true;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (pos_ >= s_.size())
                break;
            const char e = s_[pos_++];
            switch (e) {
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'u': {
                unsigned cp = 0;
                if (!hex4(cp))
                    return false;
                if (cp >= 0xD800 && cp < 0xDC00 && s_.compare(pos_, 2, "\\u") == 0) {
                    pos_ += 2;
                    unsigned low = 0;
                    if (!hex4(low))
                        return false;
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                }
                appendUtf8(out, cp);
                break;
            }
            default:
                out += e;
            }
        }
        return fail("unterminated string");
    }

    const std::string& s_;
    size_t pos_ = 0;
};

Json Json::parse(const std::string& text, std::string* error)
{
    JsonParser parser(text);
    Json out;
    if (!parser.document(out)) {
        if (error != nullptr)
            *error = parser.error;
        return Json();
    }
    return out;
}

const std::string& Json::asString() const
{
    static const std::string empty;
    return type_ == Type::String ? string_ : empty;
}

size_t Json::size() const
{
    return type_ == Type::Array ? array_.size() : type_ == Type::Object ? object_.size() : 0;
}

const Json& Json::operator[](size_t index) const
{
    return type_ == Type::Array && index < array_.size() ? array_[index] : nullJson();
}

const Json& Json::operator[](const std::string& key) const
{
    if (type_ != Type::Object)
        return nullJson();
    const auto it = object_.find(key);
    return it != object_.end() ? it->second : nullJson();
}

bool Json::has(const std::string& key) const
{
    return type_ == Type::Object && object_.count(key) > 0;
}

} // namespace vesk::editor_test
