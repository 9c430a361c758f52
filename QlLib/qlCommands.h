// The parsed command line: switches with their parameters, and the raw tokens.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "QlLib/qlHashLists.h"

namespace ql {

// One parameter of a switch.
class TCommandItem : public TObj {
public:
    explicit TCommandItem(std::u16string value) : m_value(std::move(value)) {}
    const std::u16string& Value() const { return m_value; }
    // The value as a decimal integer; defaultValue when it is not one.
    int32_t AsInteger(int32_t defaultValue) const;
    int64_t AsInt64(int64_t defaultValue) const;

private:
    std::u16string m_value;
};

// One switch (its name without the hyphen) with its parameters in order.
class TCommand : public TKeyItem {
public:
    using TKeyItem::TKeyItem;
    const std::u16string& Name() const { return Key(); }
    int32_t Count() const { return static_cast<int32_t>(m_items.size()); }
    // nullptr when index is out of range.
    const TCommandItem* Item(int32_t index) const;
    void Add(std::u16string value);

private:
    std::vector<std::unique_ptr<TCommandItem>> m_items;
};

// Splits a raw command line at characters with codes up to 32 that stand outside
// double quotes; the quotes toggle quoting and are dropped. A pair of quotes
// with nothing between gives an empty token.
std::vector<std::u16string> SplitCommandLine(std::u16string_view commandLine);

// Joins tokens into a command line that SplitCommandLine reads back as the same
// tokens: tokens that are empty or hold blanks or control characters are quoted.
// Double quotes cannot be carried (the splitter has no escape) and are dropped.
std::u16string BuildCommandLine(const std::vector<std::u16string>& tokens);

// The command line grouped by switches: a token beginning with "-" names a
// switch and becomes the current one; other tokens are parameters of the current
// switch (those before the first switch, the program path among them, belong to
// the switch with the empty name). Names compare exactly; a switch given twice
// is one entry.
class TCommandsStorage : public THashList {
public:
    TCommandsStorage();

    // The program's arguments as the system passes them (UTF-8), argv[0] first.
    void Parse(const std::vector<std::string>& argv);
    void Parse(int argc, const char* const* argv);
    // A whole command line as one text, program name included.
    void ParseCommandLine(std::u16string_view commandLine);
    // Adds already split tokens.
    void AddTokens(const std::vector<std::u16string>& tokens);

    // Switch names are compared without regard to case ("-Slide" is "-slide");
    // the name is kept lower-cased. nullptr when the switch was not given.
    const TCommand* Command(std::u16string_view name) const;
    bool HasSwitch(std::u16string_view name) const { return Command(name) != nullptr; }
    // The switch's parameter as text; empty when absent.
    std::u16string Value(std::u16string_view name, int32_t index = 0) const;
    int32_t IntValue(std::u16string_view name, int32_t index, int32_t defaultValue) const;

    // Every token in order, exactly as split (for tests such as "-startup", "/s").
    const std::vector<std::u16string>& RawTokens() const { return m_rawTokens; }
    bool HasRawToken(std::u16string_view token) const;

protected:
    std::unique_ptr<TKeyItem> CreateItem(const std::u16string& key) override;

private:
    std::vector<std::u16string> m_rawTokens;
    TCommand* m_current = nullptr;
};

}  // namespace ql
