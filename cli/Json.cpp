#include "Json.h"

#include <cmath>

namespace kxcli {

std::string JsonWriter::Escape(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    char escaped[8];
                    snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    out += escaped;
                } else {
                    out += static_cast<char>(c);  // UTF-8 passes through
                }
        }
    }
    return out + "\"";
}

void JsonWriter::NewLine() {
    fputc('\n', out_);
    for (size_t i = 0; i < levels_.size(); ++i) fputs("  ", out_);
}

void JsonWriter::BeforeValue() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (levels_.empty()) return;
    Level& level = levels_.back();
    if (!level.empty) fputs(level.compact ? ", " : ",", out_);
    if (!level.compact) NewLine();
    level.empty = false;
}

void JsonWriter::Open(char bracket, bool compact) {
    BeforeValue();
    fputc(bracket, out_);
    levels_.push_back({true, compact || (!levels_.empty() && levels_.back().compact)});
}

void JsonWriter::Close(char bracket) {
    bool newLine = !levels_.empty() && !levels_.back().empty && !levels_.back().compact;
    if (!levels_.empty()) levels_.pop_back();
    if (newLine) NewLine();
    fputc(bracket, out_);
    if (levels_.empty()) fputc('\n', out_);
}

JsonWriter& JsonWriter::BeginObject(bool compact) { Open('{', compact); return *this; }
JsonWriter& JsonWriter::EndObject() { Close('}'); return *this; }
JsonWriter& JsonWriter::BeginArray() { Open('[', false); return *this; }
JsonWriter& JsonWriter::EndArray() { Close(']'); return *this; }

JsonWriter& JsonWriter::Key(const std::string& name) {
    BeforeValue();
    fprintf(out_, "%s: ", Escape(name).c_str());
    afterKey_ = true;
    return *this;
}

JsonWriter& JsonWriter::String(const std::string& value) {
    BeforeValue();
    fputs(Escape(value).c_str(), out_);
    return *this;
}

JsonWriter& JsonWriter::Number(double value) {
    BeforeValue();
    if (std::isfinite(value))
        fprintf(out_, "%.10g", value);
    else
        fputs("null", out_);
    return *this;
}

JsonWriter& JsonWriter::Integer(int64_t value) {
    BeforeValue();
    fprintf(out_, "%lld", static_cast<long long>(value));
    return *this;
}

JsonWriter& JsonWriter::Bool(bool value) {
    BeforeValue();
    fputs(value ? "true" : "false", out_);
    return *this;
}

JsonWriter& JsonWriter::Null() {
    BeforeValue();
    fputs("null", out_);
    return *this;
}

}  // namespace kxcli
