#include "QlLib/qlIniStorage.h"

#include <charconv>

#include "QlLib/qlHashUtils.h"
#include "QlLib/qlTextReader.h"
#include "QlLib/qpStringUtils.h"

namespace ql {

namespace {

constexpr const char* kNotApplicable = "Method not applicable";

bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t';
}

size_t SkipBlanks(std::u16string_view text, size_t from) {
    while (from < text.size() && IsBlank(text[from])) ++from;
    return from;
}

// Index just behind the last non-blank character before end, but not before start.
size_t TrimBackTo(std::u16string_view text, size_t start, size_t end) {
    while (end > start && IsBlank(text[end - 1])) --end;
    return end;
}

// 1-based column to a string index, clamped to the text.
size_t IndexOf(const std::u16string& text, int column) {
    if (column <= 1) return 0;
    return std::min(static_cast<size_t>(column - 1), text.size());
}

int ColumnOf(size_t index) {
    return static_cast<int>(index) + 1;
}

// Whether item is root or lies inside root's tree.
bool IsWithin(const TCommonIniItem& root, const TCommonIniItem& item) {
    for (const TCommonIniItem* p = &item; p; p = p->Owner())
        if (p == &root) return true;
    return false;
}

// The lower-cased name and its ELF hash, the pair every index lookup needs.
struct TIndexKey {
    std::u16string lower;
    uint32_t hash;
    explicit TIndexKey(std::u16string_view name) : lower(LowerCase(name)), hash(ElfHash(lower)) {}
};

// An optional minus directly followed by digits and nothing else.
bool IsPlainDecimal(std::u16string_view text) {
    size_t i = (!text.empty() && text[0] == u'-') ? 1 : 0;
    if (i == text.size()) return false;
    for (; i < text.size(); ++i)
        if (text[i] < u'0' || text[i] > u'9') return false;
    return true;
}

std::u16string RealToStr(double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return Widen(std::string_view(buffer, static_cast<size_t>(result.ptr - buffer)));
}

}  // namespace

// ---------------------------------------------------------------- TCommonIniItem

TCommonIniItem::~TCommonIniItem() {
    // A chain left behind is let go one link at a time, never recursively.
    std::unique_ptr<TCommonIniItem> next = std::move(m_next);
    while (next) next = std::move(next->m_next);
}

TCommonIniItem& TCommonIniItem::AddItem(std::unique_ptr<TCommonIniItem> item) {
    QL_ASSERT(false, ClassName() + " cann`t has subitems");
    return *this;
}

std::unique_ptr<TCommonIniItem> TCommonIniItem::RemoveItem(TCommonIniItem& item) {
    QL_ASSERT(false, ClassName() + " cann`t has subitems");
    return nullptr;
}

void TCommonIniItem::MoveTo(TIniCollection& newOwner) {
    QL_ASSERT(m_owner != nullptr && !IsWithin(*this, newOwner), kNotApplicable);
    newOwner.AddItem(m_owner->RemoveItem(*this));
}

void TCommonIniItem::Free() {
    QL_ASSERT(m_owner != nullptr, kNotApplicable);
    m_owner->RemoveItem(*this);
}

// ---------------------------------------------------------------- TIniCollection

TIniCollection::~TIniCollection() {
    TIniCollection::Clear();
}

TCommonIniItem& TIniCollection::AddItem(std::unique_ptr<TCommonIniItem> item) {
    return InsertItem(m_last, std::move(item));
}

TCommonIniItem& TIniCollection::InsertItem(TCommonIniItem* after,
                                           std::unique_ptr<TCommonIniItem> item) {
    QL_ASSERT(item != nullptr && item->m_owner == nullptr, "Ini item already has an owner");
    QL_ASSERT(after == nullptr || after->m_owner == this, "Ini item of another collection");
    TCommonIniItem* raw = item.get();
    raw->m_owner = this;
    raw->m_prev = after;
    std::unique_ptr<TCommonIniItem>& slot = after ? after->m_next : m_first;
    raw->m_next = std::move(slot);
    slot = std::move(item);
    if (raw->m_next)
        raw->m_next->m_prev = raw;
    else
        m_last = raw;
    Registered(*raw);
    return *raw;
}

std::unique_ptr<TCommonIniItem> TIniCollection::RemoveItem(TCommonIniItem& item) {
    QL_ASSERT(item.m_owner == this, "Ini item of another collection");
    Unregistered(item);
    std::unique_ptr<TCommonIniItem>& slot = item.m_prev ? item.m_prev->m_next : m_first;
    std::unique_ptr<TCommonIniItem> self = std::move(slot);
    slot = std::move(item.m_next);
    if (slot)
        slot->m_prev = item.m_prev;
    else
        m_last = item.m_prev;
    item.m_prev = nullptr;
    item.m_owner = nullptr;
    return self;
}

void TIniCollection::WriteLines(TIniLineSink& sink) const {
    WriteItems(sink);
}

void TIniCollection::WriteItems(TIniLineSink& sink) const {
    for (const TCommonIniItem* item = First(); item; item = item->Next()) item->WriteLines(sink);
}

void TIniCollection::Clear() {
    while (m_first) RemoveItem(*m_first);
}

void TIniCollection::Assign(const TIniCollection& source) {
    if (&source == this) return;
    // Clearing an ancestor of the source would free the source itself.
    QL_ASSERT(!IsWithin(*this, source), kNotApplicable);
    Clear();
    source.CopyItemsTo(*this);
}

void TIniCollection::CopyItemsTo(TIniCollection& target) const {
    for (const TCommonIniItem* item = First(); item; item = item->Next()) item->CopyTo(target);
}

// ---------------------------------------------------------------- line items

void TIniEmptyLine::WriteLines(TIniLineSink& sink) const {
    sink.WriteLine({});
}

TCommonIniItem& TIniEmptyLine::CopyTo(TIniCollection& target) const {
    return target.AddItem(std::make_unique<TIniEmptyLine>());
}

void TIniTextLine::WriteLines(TIniLineSink& sink) const {
    sink.WriteLine(m_text);
}

TCommonIniItem& TIniTextLine::CopyTo(TIniCollection& target) const {
    return target.AddItem(std::make_unique<TIniTextLine>(m_text));
}

TCommonIniItem& TIniComment::CopyTo(TIniCollection& target) const {
    return target.AddItem(std::make_unique<TIniComment>(m_text, m_semicolonColumn));
}

TIniIdent::TIniIdent(std::u16string text, int nameStart, int nameLength, int valueStart)
    : TIniTextLine(std::move(text)),
      m_nameStart(nameStart),
      m_nameLength(nameLength),
      m_valueStart(valueStart) {
    TIndexKey key(Name());
    m_lowerName = std::move(key.lower);
    m_hash = key.hash;
}

TCommonIniItem& TIniIdent::CopyTo(TIniCollection& target) const {
    return target.AddItem(
        std::make_unique<TIniIdent>(m_text, m_nameStart, m_nameLength, m_valueStart));
}

std::u16string TIniIdent::Name() const {
    const size_t start = IndexOf(m_text, m_nameStart);
    return m_text.substr(start, std::max(m_nameLength, 0));
}

std::u16string TIniIdent::Value() const {
    return TrimTrailingBlanks(std::u16string_view(m_text).substr(IndexOf(m_text, m_valueStart)));
}

void TIniIdent::SetValue(std::u16string_view value) {
    m_text.resize(IndexOf(m_text, m_valueStart));
    m_text += value;
}

// ---------------------------------------------------------------- TIniIdentList

TIniIdentList::~TIniIdentList() {
    TIniIdentList::Clear();
}

void TIniIdentList::Clear() {
    TIniCollection::Clear();
    m_keyIndex.reset();
}

void TIniIdentList::Registered(TCommonIniItem& item) {
    auto* ident = dynamic_cast<TIniIdent*>(&item);
    if (!ident) return;
    if (!m_keyIndex) m_keyIndex = std::make_unique<std::array<TIniIdent*, kKeyBuckets>>();
    // The newest key goes to the head, so the last occurrence in the text wins.
    const int bucket = static_cast<int>(ident->m_hash % kKeyBuckets);
    TIniIdent*& head = (*m_keyIndex)[bucket];
    ident->m_bucket = bucket;
    ident->m_prevInBucket = nullptr;
    ident->m_nextInBucket = head;
    if (head) head->m_prevInBucket = ident;
    head = ident;
}

void TIniIdentList::Unregistered(TCommonIniItem& item) {
    auto* ident = dynamic_cast<TIniIdent*>(&item);
    if (!ident || ident->m_bucket < 0 || !m_keyIndex) return;
    if (ident->m_prevInBucket)
        ident->m_prevInBucket->m_nextInBucket = ident->m_nextInBucket;
    else
        (*m_keyIndex)[ident->m_bucket] = ident->m_nextInBucket;
    if (ident->m_nextInBucket) ident->m_nextInBucket->m_prevInBucket = ident->m_prevInBucket;
    ident->m_bucket = -1;
    ident->m_prevInBucket = ident->m_nextInBucket = nullptr;
}

TIniIdent* TIniIdentList::FindOwnIdent(const std::u16string& lowerName, uint32_t hash) const {
    if (!m_keyIndex) return nullptr;
    for (TIniIdent* ident = (*m_keyIndex)[hash % kKeyBuckets]; ident; ident = ident->m_nextInBucket)
        if (ident->m_hash == hash && ident->m_lowerName == lowerName) return ident;
    return nullptr;
}

TIniIdent* TIniIdentList::FindIdent(std::u16string_view name) const {
    const TIndexKey key(name);
    return FindOwnIdent(key.lower, key.hash);
}

TIniIdent& TIniIdentList::FindOrAddIdent(std::u16string_view name, int indentation) {
    if (TIniIdent* found = FindIdent(name)) return *found;
    std::u16string line(static_cast<size_t>(std::max(indentation, 0)), u' ');
    const int nameStart = ColumnOf(line.size());
    line += name;
    line += u'=';
    const int valueStart = ColumnOf(line.size());
    // New keys follow the last key, so in an object they stay ahead of the nested
    // objects and of the "end" line.
    TCommonIniItem* lastKey = Last();
    while (lastKey && !dynamic_cast<TIniIdent*>(lastKey)) lastKey = lastKey->Prev();
    auto& added =
        InsertItem(lastKey, std::make_unique<TIniIdent>(std::move(line), nameStart,
                                                        static_cast<int>(name.size()), valueStart));
    return static_cast<TIniIdent&>(added);
}

TIniObject* TIniIdentList::FirstObject() const {
    for (TCommonIniItem* item = First(); item; item = item->Next())
        if (auto* object = dynamic_cast<TIniObject*>(item)) return object;
    return nullptr;
}

TIniObject* TIniIdentList::NextObject(const TCommonIniItem& after) {
    for (TCommonIniItem* item = after.Next(); item; item = item->Next())
        if (auto* object = dynamic_cast<TIniObject*>(item)) return object;
    return nullptr;
}

std::u16string TIniIdentList::ReadString(std::u16string_view key,
                                         std::u16string_view defaultValue) const {
    const TIniIdent* ident = FindIdent(key);
    return ident ? ident->Value() : std::u16string(defaultValue);
}

int32_t TIniIdentList::ReadInteger(std::u16string_view key, int32_t defaultValue) const {
    const TIniIdent* ident = FindIdent(key);
    return ident ? TryStrToInt(ident->Value()).value_or(defaultValue) : defaultValue;
}

double TIniIdentList::ReadReal(std::u16string_view key, double defaultValue) const {
    const TIniIdent* ident = FindIdent(key);
    return ident ? TryStrToFloat(ident->Value()).value_or(defaultValue) : defaultValue;
}

bool TIniIdentList::ReadBool(std::u16string_view key, bool defaultValue) const {
    const TIniIdent* ident = FindIdent(key);
    if (!ident) return defaultValue;
    const std::u16string value = ident->Value();
    if (!IsPlainDecimal(value)) return defaultValue;
    const auto number = TryStrToInt(value);
    return number ? *number != 0 : defaultValue;
}

void TIniIdentList::WriteString(std::u16string_view key, std::u16string_view value) {
    FindOrAddIdent(key).SetValue(value);
}

void TIniIdentList::WriteInteger(std::u16string_view key, int32_t value) {
    WriteString(key, IntToStr(value));
}

void TIniIdentList::WriteReal(std::u16string_view key, double value) {
    WriteString(key, RealToStr(value));
}

void TIniIdentList::WriteBool(std::u16string_view key, bool value) {
    WriteString(key, value ? u"1" : u"0");
}

// ---------------------------------------------------------------- sections and objects

std::u16string TCommonIniSection::Name() const {
    return m_header.substr(IndexOf(m_header, m_nameStart), std::max(m_nameLength, 0));
}

void TCommonIniSection::Rename(std::u16string_view newName) {
    const size_t start = IndexOf(m_header, m_nameStart);
    m_header.replace(start, std::max(m_nameLength, 0), newName);
    m_nameStart = ColumnOf(start);
    m_nameLength = static_cast<int>(newName.size());
}

void TCommonIniSection::WriteLines(TIniLineSink& sink) const {
    sink.WriteLine(m_header);
    WriteItems(sink);
}

TIniSection::TIniSection(std::u16string header, int nameStart, int nameLength)
    : TCommonIniSection(std::move(header), nameStart, nameLength) {
    TIndexKey key(Name());
    m_lowerName = std::move(key.lower);
    m_hash = key.hash;
}

TIniSection::~TIniSection() {
    if (m_index) m_index->UnregisterSection(*this);
}

TCommonIniItem& TIniSection::CopyTo(TIniCollection& target) const {
    QL_ASSERT(!IsWithin(*this, target), kNotApplicable);
    auto& copy = target.AddItem(std::make_unique<TIniSection>(m_header, m_nameStart, m_nameLength));
    CopyItemsTo(static_cast<TIniCollection&>(copy));
    return copy;
}

void TIniSection::Rename(std::u16string_view newName) {
    TIniStorage* index = m_index;
    if (index) index->UnregisterSection(*this);
    TCommonIniSection::Rename(newName);
    TIndexKey key(Name());
    m_lowerName = std::move(key.lower);
    m_hash = key.hash;
    if (index) index->RegisterSection(*this);
}

TIniIdent* TIniSection::FindIdent(std::u16string_view name) const {
    // Same-named sections read as one: the latest twin's keys first.
    const TIndexKey key(name);
    const TIniSection* section = this;
    while (section->m_laterTwin) section = section->m_laterTwin;
    for (; section; section = section->m_earlierTwin)
        if (TIniIdent* ident = section->FindOwnIdent(key.lower, key.hash)) return ident;
    return nullptr;
}

TIniObject::TIniObject(std::u16string header, int nameStart, int nameLength, int colonColumn,
                       int classStart)
    : TCommonIniSection(std::move(header), nameStart, nameLength),
      m_colonColumn(colonColumn),
      m_classStart(classStart) {
    size_t indentation = 0;
    while (indentation < m_header.size() && m_header[indentation] <= 32) ++indentation;
    m_indentation = static_cast<int>(indentation);
}

TCommonIniItem& TIniObject::CopyTo(TIniCollection& target) const {
    QL_ASSERT(!IsWithin(*this, target), kNotApplicable);
    auto& copy = target.AddItem(std::make_unique<TIniObject>(m_header, m_nameStart, m_nameLength,
                                                             m_colonColumn, m_classStart));
    CopyItemsTo(static_cast<TIniCollection&>(copy));
    return copy;
}

TCommonIniItem& TIniExtraObject::CopyTo(TIniCollection& target) const {
    QL_ASSERT(!IsWithin(*this, target), kNotApplicable);
    auto& copy = target.AddItem(std::make_unique<TIniExtraObject>(
        m_keyword, m_header, m_nameStart, m_nameLength, m_colonColumn, m_classStart));
    CopyItemsTo(static_cast<TIniCollection&>(copy));
    return copy;
}

void TIniObject::Rename(std::u16string_view newName) {
    if (m_colonColumn > 0) {
        const int delta = static_cast<int>(newName.size()) - m_nameLength;
        TCommonIniSection::Rename(newName);
        m_colonColumn += delta;
        m_classStart += delta;
        return;
    }
    if (newName.empty()) return;
    // Without a colon the whole rest is the class: the name goes in front of it
    // with a colon of its own, so that the header reads back the same way.
    size_t at = IndexOf(m_header, m_nameStart);
    std::u16string inserted;
    if (at == 0 || !IsBlank(m_header[at - 1])) inserted += u' ';
    const int nameStart = ColumnOf(at + inserted.size());
    inserted += newName;
    inserted += u':';
    m_header.insert(at, inserted);
    m_nameStart = nameStart;
    m_nameLength = static_cast<int>(newName.size());
    m_colonColumn = nameStart + m_nameLength;
    m_classStart += static_cast<int>(inserted.size());
}

std::u16string TIniObject::ObjectClass() const {
    return TrimTrailingBlanks(
        std::u16string_view(m_header).substr(IndexOf(m_header, m_classStart)));
}

void TIniObject::SetObjectClass(std::u16string_view className) {
    size_t at = IndexOf(m_header, m_classStart);
    if (m_colonColumn > 0) {
        m_header.resize(at);
        m_header += className;
        return;
    }
    // No colon part yet: the old class text gives way to ":" and the class.
    m_header.resize(at);
    if (at == 0 || !IsBlank(m_header[at - 1])) {
        m_header += u' ';
        ++at;
    }
    m_colonColumn = ColumnOf(at);
    m_header += u':';
    m_classStart = ColumnOf(m_header.size());
    m_header += className;
    if (m_nameLength == 0) m_nameStart = m_colonColumn;
}

// ---------------------------------------------------------------- TIniStorage

TIniStorage::~TIniStorage() {
    TIniStorage::Clear();
}

void TIniStorage::Clear() {
    TIniIdentList::Clear();
    m_sectionIndex.clear();
}

void TIniStorage::WriteLines(TIniLineSink& sink) const {
    WriteItems(sink);
}

TCommonIniItem& TIniStorage::CopyTo(TIniCollection& target) const {
    QL_ASSERT(false, kNotApplicable);
    return target;
}

void TIniStorage::Registered(TCommonIniItem& item) {
    TIniIdentList::Registered(item);
    if (auto* section = dynamic_cast<TIniSection*>(&item)) RegisterSection(*section);
}

void TIniStorage::Unregistered(TCommonIniItem& item) {
    if (auto* section = dynamic_cast<TIniSection*>(&item)) UnregisterSection(*section);
    TIniIdentList::Unregistered(item);
}

void TIniStorage::RegisterSection(TIniSection& section) {
    // The section of a name registered last is found first; the newcomer
    // becomes its later twin.
    auto [slot, added] = m_sectionIndex.try_emplace(section.m_lowerName, &section);
    if (!added) {
        slot->second->m_laterTwin = &section;
        section.m_earlierTwin = slot->second;
        slot->second = &section;
    }
    section.m_index = this;
}

void TIniStorage::UnregisterSection(TIniSection& section) {
    if (section.m_index != this) return;
    const auto slot = m_sectionIndex.find(section.m_lowerName);
    if (slot != m_sectionIndex.end() && slot->second == &section) {
        if (section.m_earlierTwin)
            slot->second = section.m_earlierTwin;
        else
            m_sectionIndex.erase(slot);
    }
    // The remaining twins stay registered and keep finding each other.
    if (section.m_earlierTwin) section.m_earlierTwin->m_laterTwin = section.m_laterTwin;
    if (section.m_laterTwin) section.m_laterTwin->m_earlierTwin = section.m_earlierTwin;
    section.m_index = nullptr;
    section.m_earlierTwin = section.m_laterTwin = nullptr;
}

TIniSection* TIniStorage::FindSection(std::u16string_view name) const {
    const auto slot = m_sectionIndex.find(LowerCase(name));
    return slot == m_sectionIndex.end() ? nullptr : slot->second;
}

TIniSection& TIniStorage::FindOrAddSection(std::u16string_view name) {
    if (TIniSection* found = FindSection(name)) return *found;
    // The document's last line is the last line of its deepest last item.
    const TCommonIniItem* last = Last();
    while (auto* collection = dynamic_cast<const TIniCollection*>(last)) {
        if (collection->IsEmpty()) break;  // the header line is the last line
        last = collection->Last();
    }
    const auto* line = dynamic_cast<const TIniEmptyLine*>(last);
    const bool endsBlank = line && TrimBlanks(line->Text()).empty();
    if (last && !endsBlank) AddItem(std::make_unique<TIniEmptyLine>());
    std::u16string header = u"[";
    header += name;
    header += u']';
    auto& added =
        AddItem(std::make_unique<TIniSection>(std::move(header), 2, static_cast<int>(name.size())));
    return static_cast<TIniSection&>(added);
}

std::vector<std::u16string> TIniStorage::SectionNames() const {
    std::vector<std::u16string> names;
    for (const TCommonIniItem* item = First(); item; item = item->Next())
        if (auto* section = dynamic_cast<const TIniSection*>(item))
            names.push_back(section->Name());
    return names;
}

std::u16string TIniStorage::ReadString(std::u16string_view section, std::u16string_view key,
                                       std::u16string_view defaultValue) const {
    const TIniSection* found = FindSection(section);
    return found ? found->ReadString(key, defaultValue) : std::u16string(defaultValue);
}

int32_t TIniStorage::ReadInteger(std::u16string_view section, std::u16string_view key,
                                 int32_t defaultValue) const {
    const TIniSection* found = FindSection(section);
    return found ? found->ReadInteger(key, defaultValue) : defaultValue;
}

double TIniStorage::ReadReal(std::u16string_view section, std::u16string_view key,
                             double defaultValue) const {
    const TIniSection* found = FindSection(section);
    return found ? found->ReadReal(key, defaultValue) : defaultValue;
}

bool TIniStorage::ReadBool(std::u16string_view section, std::u16string_view key,
                           bool defaultValue) const {
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void TIniStorage::WriteString(std::u16string_view section, std::u16string_view key,
                              std::u16string_view value) {
    FindOrAddSection(section).WriteString(key, value);
}

void TIniStorage::WriteInteger(std::u16string_view section, std::u16string_view key,
                               int32_t value) {
    FindOrAddSection(section).WriteInteger(key, value);
}

void TIniStorage::WriteReal(std::u16string_view section, std::u16string_view key, double value) {
    FindOrAddSection(section).WriteReal(key, value);
}

void TIniStorage::WriteBool(std::u16string_view section, std::u16string_view key, bool value) {
    FindOrAddSection(section).WriteBool(key, value);
}

namespace {

class TWriterSink : public TIniLineSink {
public:
    explicit TWriterSink(TTextWriter& writer) : m_writer(writer) {}
    void WriteLine(std::u16string_view line) override { m_writer.WriteLine(line); }

private:
    TTextWriter& m_writer;
};

class TListSink : public TIniLineSink {
public:
    explicit TListSink(std::vector<std::u16string>& lines) : m_lines(lines) {}
    void WriteLine(std::u16string_view line) override { m_lines.emplace_back(line); }

private:
    std::vector<std::u16string>& m_lines;
};

}  // namespace

bool TIniStorage::SaveToStream(TStream& stream) const {
    try {
        TUTF8Writer writer(stream);
        TWriterSink sink(writer);
        WriteLines(sink);
        writer.Detach();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool TIniStorage::SaveToLines(std::vector<std::u16string>& lines) const {
    try {
        TListSink sink(lines);
        WriteLines(sink);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// ---------------------------------------------------------------- TIniFile parser

// Classifies the lines of a text one at a time. The open-block stack and the
// current collection live only while a document loads.
class TIniFile::TParser {
public:
    explicit TParser(TIniFile& document) : m_document(document), m_current(&document) {}

    // false when a hook stopped the parse.
    bool Line(const std::u16string& line, int64_t lineNumber);
    bool Finish(int64_t lineCount);

private:
    bool Report(int code, int column, int64_t lineNumber);
    bool OpenObject(const std::u16string& line, size_t first, size_t wordEnd, bool extra,
                    int64_t lineNumber);

    TIniFile& m_document;
    TIniIdentList* m_current;
    std::vector<TIniIdentList*> m_stack;
    int m_depth = 0;     // objects open in the current section
    int m_overflow = 0;  // "object" lines past the depth limit still waiting for their "end"
};

bool TIniFile::TParser::Report(int code, int column, int64_t lineNumber) {
    if (!m_document.m_parseErrorHook) return true;
    try {
        m_document.m_parseErrorHook(m_document, code, column, lineNumber);
        return true;
    } catch (const EIniParseError& stop) {
        m_document.m_lastAbortCode = stop.Code();
        // The hook hears the code that stopped the parse; it cannot stop it twice.
        try {
            m_document.m_parseErrorHook(m_document, stop.Code(), column, lineNumber);
        } catch (const EIniParseError&) {
        }
        return false;
    }
}

bool TIniFile::TParser::OpenObject(const std::u16string& line, size_t first, size_t wordEnd,
                                   bool extra, int64_t lineNumber) {
    if (m_depth >= kMaxObjectDepth) {
        // Too deep to be a block: kept as text so it is written back, and its
        // "end" is kept as text too.
        m_current->AddItem(std::make_unique<TIniTextLine>(line));
        ++m_overflow;
        return Report(kIniUnknownLine, ColumnOf(first), lineNumber);
    }
    size_t colon = line.rfind(u':');
    if (colon != std::u16string::npos && colon < wordEnd) colon = std::u16string::npos;
    const size_t nameStart = SkipBlanks(line, wordEnd);
    std::unique_ptr<TIniObject> object;
    int nameLength = 0, colonColumn = 0, classStart = ColumnOf(nameStart);
    if (colon != std::u16string::npos) {
        nameLength = static_cast<int>(TrimBackTo(line, nameStart, colon) - nameStart);
        colonColumn = ColumnOf(colon);
        classStart = ColumnOf(SkipBlanks(line, colon + 1));
    }
    if (extra)
        object = std::make_unique<TIniExtraObject>(line.substr(first, wordEnd - first), line,
                                                   ColumnOf(nameStart), nameLength, colonColumn,
                                                   classStart);
    else
        object = std::make_unique<TIniObject>(line, ColumnOf(nameStart), nameLength, colonColumn,
                                              classStart);
    auto& added = m_current->AddItem(std::move(object));
    m_stack.push_back(m_current);
    m_current = static_cast<TIniIdentList*>(&static_cast<TIniObject&>(added));
    ++m_depth;
    return true;
}

bool TIniFile::TParser::Line(const std::u16string& line, int64_t lineNumber) {
    const size_t length = line.size();
    const size_t first = SkipBlanks(line, 0);
    if (first == length) {
        m_current->AddItem(std::make_unique<TIniEmptyLine>());
        return true;
    }
    const char16_t lead = line[first];
    if (lead == u';') {
        m_current->AddItem(std::make_unique<TIniComment>(line, ColumnOf(first)));
        return true;
    }
    if (lead == u'=') {
        m_current->AddItem(std::make_unique<TIniTextLine>(line));
        return true;
    }
    if (lead == u'[') {
        const size_t nameStart = SkipBlanks(line, first + 1);
        const size_t close =
            nameStart < length ? line.find(u']', nameStart + 1) : std::u16string::npos;
        if (close == std::u16string::npos) {
            m_current->AddItem(std::make_unique<TIniTextLine>(line));
            return true;
        }
        const size_t nameEnd = TrimBackTo(line, nameStart, close);
        auto& section = m_document.AddItem(std::make_unique<TIniSection>(
            line, ColumnOf(nameStart), static_cast<int>(nameEnd - nameStart)));
        m_current = static_cast<TIniSection*>(&section);
        m_depth = 0;
        m_overflow = 0;
        return true;
    }

    size_t wordEnd = first;
    while (wordEnd < length && !IsBlank(line[wordEnd])) ++wordEnd;
    const std::u16string_view word = std::u16string_view(line).substr(first, wordEnd - first);
    const size_t after = SkipBlanks(line, wordEnd);
    if (word.find(u'=') != std::u16string_view::npos || (after < length && line[after] == u'=')) {
        const size_t equals = line.find(u'=', first);
        const size_t nameEnd = TrimBackTo(line, first, equals);
        const size_t valueStart = SkipBlanks(line, equals + 1);
        m_current->AddItem(std::make_unique<TIniIdent>(
            line, ColumnOf(first), static_cast<int>(nameEnd - first), ColumnOf(valueStart)));
        return true;
    }
    if (word == u"object") return OpenObject(line, first, wordEnd, false, lineNumber);
    if (m_document.m_keywordHook && m_document.m_keywordHook(word))
        return OpenObject(line, first, wordEnd, true, lineNumber);
    if (word == u"end") {
        if (m_overflow > 0) {
            m_current->AddItem(std::make_unique<TIniTextLine>(line));
            --m_overflow;
            return true;
        }
        if (m_depth > 0 && !m_stack.empty()) {
            // The "end" line belongs to the block so that it is written back.
            m_current->AddItem(std::make_unique<TIniTextLine>(line));
            m_current = m_stack.back();
            m_stack.pop_back();
            --m_depth;
            return true;
        }
        return Report(kIniEndWithoutObject, ColumnOf(first), lineNumber);
    }
    return Report(kIniUnknownLine, ColumnOf(first), lineNumber);
}

bool TIniFile::TParser::Finish(int64_t lineCount) {
    if (!m_stack.empty()) return Report(kIniObjectsLeftOpen, 0, lineCount);
    return true;
}

bool TIniFile::LoadFromLines(const std::vector<std::u16string>& lines) {
    Clear();
    m_lastLoadResult = false;
    m_lastAbortCode = -1;
    TParser parser(*this);
    for (size_t i = 0; i < lines.size(); ++i)
        if (!parser.Line(lines[i], static_cast<int64_t>(i))) return false;
    m_lastLoadResult = parser.Finish(static_cast<int64_t>(lines.size()));
    return m_lastLoadResult;
}

bool TIniFile::LoadFromStream(TStream& stream) {
    Clear();
    m_lastLoadResult = false;
    m_lastAbortCode = -1;
    TParser parser(*this);
    TTextParser text;
    text.AttachStream(stream);
    int64_t lineCount = 0;
    if (text.Start()) {
        do {
            if (!parser.Line(text.Line(), text.LineNumber())) return false;
            lineCount = text.LineNumber() + 1;
        } while (text.NextLine());
    }
    m_lastLoadResult = parser.Finish(lineCount);
    return m_lastLoadResult;
}

bool TIniFile::LoadFromFile(const std::u16string& fileName) {
    TFileStream stream(fileName, TFileAccess::Read, kShareRead, TFileDisposition::OpenExisting);
    return LoadFromStream(stream);
}

}  // namespace ql
