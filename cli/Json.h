// A small streaming JSON writer for --json output.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace kxcli {

class JsonWriter {
public:
    explicit JsonWriter(FILE* out) : out_(out) {}

    // A compact object is written on one line (for long lists of small records).
    JsonWriter& BeginObject(bool compact = false);
    JsonWriter& EndObject();
    JsonWriter& BeginArray();
    JsonWriter& EndArray();
    JsonWriter& Key(const std::string& name);
    JsonWriter& String(const std::string& value);
    JsonWriter& Number(double value);
    JsonWriter& Integer(int64_t value);
    JsonWriter& Bool(bool value);
    JsonWriter& Null();

    // Key followed by a value.
    JsonWriter& Field(const std::string& name, const std::string& value) { return Key(name).String(value); }
    JsonWriter& Field(const std::string& name, const char* value) { return Key(name).String(value); }
    JsonWriter& Field(const std::string& name, double value) { return Key(name).Number(value); }
    JsonWriter& Field(const std::string& name, int64_t value) { return Key(name).Integer(value); }
    JsonWriter& Field(const std::string& name, int32_t value) { return Key(name).Integer(value); }
    JsonWriter& Field(const std::string& name, uint32_t value) { return Key(name).Integer(value); }
    JsonWriter& Field(const std::string& name, bool value) { return Key(name).Bool(value); }

    static std::string Escape(const std::string& text);

private:
    void BeforeValue();
    void Open(char bracket, bool compact);
    void Close(char bracket);
    void NewLine();

    FILE* out_;
    struct Level {
        bool empty = true;
        bool compact = false;
    };
    std::vector<Level> levels_;
    bool afterKey_ = false;
};

}  // namespace kxcli
