// The tool's JSON output, written one value at a time: objects and arrays
// nest, separators and string escapes come by themselves, sizes that do not
// exist are null. The fields each command writes are documented in
// docs/json.md.
#pragma once

#include <string>
#include <vector>

namespace cz::cli {

class Json {
public:
    Json& Object();
    Json& Array();
    Json& End();
    // The key of the next value inside an object.
    Json& Key(const std::string& key);
    Json& String(const std::string& text);
    Json& Int(long long value);
    Json& Unsigned(unsigned long long value);
    // A number with `decimals` digits after the point.
    Json& Number(double value, int decimals = 3);
    Json& Bool(bool value);
    Json& Null();
    // A size: null when negative (there is none).
    Json& Size(long long bytes);

    const std::string& Text() const { return text_; }
    // Writes the text and a line end to standard output.
    void Print() const;

private:
    void Before();
    std::string text_;
    std::vector<bool> first_;  // per open container: nothing written in it yet
    std::string close_;        // per open container: its closing bracket
    bool afterKey_ = false;
};

// A JSON string literal of text.
std::string JsonQuote(const std::string& text);

}  // namespace cz::cli
