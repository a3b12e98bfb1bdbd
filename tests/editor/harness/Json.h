// A small JSON reader for the summaries vesk-host writes. Reading a missing member or element
// gives a null value, so a test can write summary["gui"]["instances"][0]["opens"].size() and
// get 0 rather than a crash when something is missing.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace vesk::editor_test {

class Json
{
public:
    enum class Type
    {
        Null,
        Bool,
        Number,
        String,
        Array,
        Object
    };

    // Parses text; a text that is not JSON gives a null value and sets `error` when given.
    static Json parse(const std::string& text, std::string* error = nullptr);

    Type type() const { return type_; }
    bool isNull() const { return type_ == Type::Null; }
    bool isObject() const { return type_ == Type::Object; }
    bool isArray() const { return type_ == Type::Array; }

    bool asBool(bool otherwise = false) const { return type_ == Type::Bool ? bool_ : otherwise; }
    double asNumber(double otherwise = 0.0) const
    {
        return type_ == Type::Number ? number_ : otherwise;
    }
    long long asInt(long long otherwise = 0) const
    {
        return type_ == Type::Number ? static_cast<long long>(number_) : otherwise;
    }
    const std::string& asString() const;

    // Elements of an array, members of an object; 0 otherwise.
    size_t size() const;
    const Json& operator[](size_t index) const;
    const Json& operator[](int index) const
    {
        return index < 0 ? (*this)[size()] : (*this)[size_t(index)];
    }
    const Json& operator[](const std::string& key) const;
    const Json& operator[](const char* key) const { return (*this)[std::string(key)]; }
    bool has(const std::string& key) const;
    const std::vector<Json>& elements() const { return array_; }
    const std::map<std::string, Json>& members() const { return object_; }

private:
    friend class JsonParser;
    Type type_ = Type::Null;
    bool bool_ = false;
    double number_ = 0.0;
    std::string string_;
    std::vector<Json> array_;
    std::map<std::string, Json> object_;
};

} // namespace vesk::editor_test
