#include "QlLib/qlCommands.h"

#include <algorithm>
#include <iterator>

#include "QlLib/qpStringUtils.h"

namespace ql {

namespace {
constexpr int32_t kCommandBuckets = 251;

bool IsSeparator(char16_t c) { return c <= 32; }
}  // namespace

int32_t TCommandItem::AsInteger(int32_t defaultValue) const { return StrToIntDef(m_value, defaultValue); }

int64_t TCommandItem::AsInt64(int64_t defaultValue) const { return StrToInt64Def(m_value, defaultValue); }

const TCommandItem* TCommand::Item(int32_t index) const {
    if (index < 0 || index >= Count()) return nullptr;
    return m_items[static_cast<size_t>(index)].get();
}

void TCommand::Add(std::u16string value) { m_items.push_back(std::make_unique<TCommandItem>(std::move(value))); }

std::vector<std::u16string> SplitCommandLine(std::u16string_view commandLine) {
    std::vector<std::u16string> tokens;
    std::u16string token;
    bool inToken = false;  // a quote pair alone still makes an (empty) token
    bool quoted = false;
    for (char16_t c : commandLine) {
        if (c == u'"') {
            quoted = !quoted;
            inToken = true;
        } else if (!quoted && IsSeparator(c)) {
            if (inToken) tokens.push_back(std::move(token));
            token.clear();
            inToken = false;
        } else {
            token += c;
            inToken = true;
        }
    }
    if (inToken) tokens.push_back(std::move(token));
    return tokens;
}

std::u16string BuildCommandLine(const std::vector<std::u16string>& tokens) {
    std::u16string line;
    for (const std::u16string& raw : tokens) {
        std::u16string token;
        std::copy_if(raw.begin(), raw.end(), std::back_inserter(token), [](char16_t c) { return c != u'"'; });
        if (!line.empty()) line += u' ';
        const bool needsQuotes = token.empty() || std::any_of(token.begin(), token.end(), IsSeparator);
        if (needsQuotes) line += u'"';
        line += token;
        if (needsQuotes) line += u'"';
    }
    return line;
}

TCommandsStorage::TCommandsStorage() : THashList(kCommandBuckets) {}

std::unique_ptr<TKeyItem> TCommandsStorage::CreateItem(const std::u16string& key) {
    return std::make_unique<TCommand>(key);
}

void TCommandsStorage::AddTokens(const std::vector<std::u16string>& tokens) {
    for (const std::u16string& token : tokens) {
        m_rawTokens.push_back(token);
        if (!token.empty() && token[0] == u'-') {
            m_current = static_cast<TCommand*>(FindOrAdd(LowerCase(std::u16string_view(token).substr(1))));
            continue;
        }
        if (!m_current) m_current = static_cast<TCommand*>(FindOrAdd(u""));
        m_current->Add(token);
    }
}

void TCommandsStorage::Parse(const std::vector<std::string>& argv) {
    std::vector<std::u16string> tokens;
    tokens.reserve(argv.size());
    for (const std::string& arg : argv) tokens.push_back(FromUtf8(arg));
    AddTokens(tokens);
}

void TCommandsStorage::Parse(int argc, const char* const* argv) {
    std::vector<std::string> args;
    for (int i = 0; i < argc && argv[i]; ++i) args.emplace_back(argv[i]);
    Parse(args);
}

void TCommandsStorage::ParseCommandLine(std::u16string_view commandLine) {
    AddTokens(SplitCommandLine(commandLine));
}

const TCommand* TCommandsStorage::Command(std::u16string_view name) const {
    return static_cast<const TCommand*>(Find(LowerCase(name)));
}

std::u16string TCommandsStorage::Value(std::u16string_view name, int32_t index) const {
    const TCommand* command = Command(name);
    const TCommandItem* item = command ? command->Item(index) : nullptr;
    return item ? item->Value() : std::u16string();
}

int32_t TCommandsStorage::IntValue(std::u16string_view name, int32_t index, int32_t defaultValue) const {
    const TCommand* command = Command(name);
    const TCommandItem* item = command ? command->Item(index) : nullptr;
    return item ? item->AsInteger(defaultValue) : defaultValue;
}

bool TCommandsStorage::HasRawToken(std::u16string_view token) const {
    return std::find(m_rawTokens.begin(), m_rawTokens.end(), token) != m_rawTokens.end();
}

}  // namespace ql
