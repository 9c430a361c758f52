// The settings document: INI-style text with nested object blocks. Every line of
// the source is kept as an item, so a document read and written back keeps its
// comments, blank lines, spacing and order. Section and key names are looked up
// case-insensitively through hash tables.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "QlLib/SysObj.h"
#include "QlLib/qpExceptions.h"
#include "QlLib/qpFileStream.h"

namespace ql {

// Codes that the parse-error hook receives.
enum TIniParseErrorCode : int {
    kIniEndWithoutObject = 0,  // "end" without an open object
    kIniObjectsLeftOpen = 1,   // objects still open at the end of the text
    kIniUnknownLine = 2,       // a line that is none of the known forms
};

// Raised by a parse-error hook to stop the parse.
class EIniParseError : public TCommonException {
public:
    explicit EIniParseError(int code) : TCommonException(NamedTag{}, "EIniParseError"), m_code(code) {}
    EIniParseError(int code, std::string message)
        : TCommonException(std::move(message)), m_code(code) {}
    const char* ClassName() const noexcept override { return "EIniParseError"; }
    int Code() const noexcept { return m_code; }

private:
    int m_code;
};

// Receives the lines of a document in order.
class TIniLineSink {
public:
    virtual ~TIniLineSink() = default;
    virtual void WriteLine(std::u16string_view line) = 0;
};

class TIniCollection;
class TIniIdentList;
class TIniStorage;

// Any line of the document. Items are owned by their collection; the links to
// the neighbours are intrusive.
class TCommonIniItem : public TObj {
public:
    ~TCommonIniItem() override;

    TIniCollection* Owner() const { return m_owner; }
    TCommonIniItem* Prev() const { return m_prev; }
    TCommonIniItem* Next() const { return m_next.get(); }

    // Appends a sub-item; line items refuse with an assertion.
    virtual TCommonIniItem& AddItem(std::unique_ptr<TCommonIniItem> item);
    // Takes a direct sub-item out (unregistering it) and hands it over.
    virtual std::unique_ptr<TCommonIniItem> RemoveItem(TCommonIniItem& item);
    virtual void WriteLines(TIniLineSink& sink) const = 0;
    // Appends the item at the end of newOwner and registers it there.
    virtual void MoveTo(TIniCollection& newOwner);
    // Appends a copy of the item (with its sub-items) at the end of target.
    virtual TCommonIniItem& CopyTo(TIniCollection& target) const = 0;

    // Removes the item from its owner and frees it; the item is gone afterwards.
    void Free();

private:
    friend class TIniCollection;
    TIniCollection* m_owner = nullptr;
    TCommonIniItem* m_prev = nullptr;
    std::unique_ptr<TCommonIniItem> m_next;
};

// An item that holds items.
class TIniCollection : public TCommonIniItem {
public:
    ~TIniCollection() override;

    TCommonIniItem* First() const { return m_first.get(); }
    TCommonIniItem* Last() const { return m_last; }
    bool IsEmpty() const { return !m_first; }

    TCommonIniItem& AddItem(std::unique_ptr<TCommonIniItem> item) override;
    // Inserts after the given direct item, or as the first item when after is null.
    TCommonIniItem& InsertItem(TCommonIniItem* after, std::unique_ptr<TCommonIniItem> item);
    std::unique_ptr<TCommonIniItem> RemoveItem(TCommonIniItem& item) override;
    void WriteLines(TIniLineSink& sink) const override;

    // Frees all items.
    virtual void Clear();
    // Clears, then copies each item of the source in order.
    virtual void Assign(const TIniCollection& source);

protected:
    // An item has just joined or is about to leave this collection.
    virtual void Registered(TCommonIniItem& item) {}
    virtual void Unregistered(TCommonIniItem& item) {}
    void WriteItems(TIniLineSink& sink) const;
    void CopyItemsTo(TIniCollection& target) const;

private:
    std::unique_ptr<TCommonIniItem> m_first;
    TCommonIniItem* m_last = nullptr;
};

// A blank line; written back empty, whatever blanks it held.
class TIniEmptyLine : public TCommonIniItem {
public:
    void WriteLines(TIniLineSink& sink) const override;
    TCommonIniItem& CopyTo(TIniCollection& target) const override;
    virtual std::u16string_view Text() const { return {}; }
};

// A line kept verbatim.
class TIniTextLine : public TIniEmptyLine {
public:
    explicit TIniTextLine(std::u16string text) : m_text(std::move(text)) {}
    void WriteLines(TIniLineSink& sink) const override;
    TCommonIniItem& CopyTo(TIniCollection& target) const override;
    std::u16string_view Text() const override { return m_text; }

protected:
    std::u16string m_text;
};

// A comment line.
class TIniComment : public TIniTextLine {
public:
    // semicolonColumn is 1-based.
    TIniComment(std::u16string text, int semicolonColumn)
        : TIniTextLine(std::move(text)), m_semicolonColumn(semicolonColumn) {}
    TCommonIniItem& CopyTo(TIniCollection& target) const override;
    int SemicolonColumn() const { return m_semicolonColumn; }

private:
    int m_semicolonColumn;
};

// A key line "name=value". Columns are 1-based; a value start beyond the line
// means an empty value.
class TIniIdent : public TIniTextLine {
public:
    TIniIdent(std::u16string text, int nameStart, int nameLength, int valueStart);
    TCommonIniItem& CopyTo(TIniCollection& target) const override;

    std::u16string Name() const;
    const std::u16string& LowerName() const { return m_lowerName; }
    // The text from the value start to the end of the line, trailing blanks removed.
    std::u16string Value() const;
    // Keeps the name, spacing and "=", replaces the rest of the line.
    void SetValue(std::u16string_view value);
    int NameStart() const { return m_nameStart; }
    int NameLength() const { return m_nameLength; }
    int ValueStart() const { return m_valueStart; }

private:
    friend class TIniIdentList;
    int m_nameStart;
    int m_nameLength;
    int m_valueStart;
    std::u16string m_lowerName;
    uint32_t m_hash;
    // Key index chain of the owner (doubly linked so that leaving is O(1)).
    int m_bucket = -1;
    TIniIdent* m_nextInBucket = nullptr;
    TIniIdent* m_prevInBucket = nullptr;
};

class TIniObject;

// A collection with a key index (251 buckets, created on the first key).
class TIniIdentList : public TIniCollection {
public:
    static constexpr int kKeyBuckets = 251;

    ~TIniIdentList() override;

    void Clear() override;

    // nullptr when missing. Among duplicates the last occurrence in the text wins.
    virtual TIniIdent* FindIdent(std::u16string_view name) const;
    // Adds "name=" with indentation blanks after the last key when missing.
    TIniIdent& FindOrAddIdent(std::u16string_view name, int indentation);
    TIniIdent& FindOrAddIdent(std::u16string_view name) {
        return FindOrAddIdent(name, DefaultIndentation());
    }
    virtual int DefaultIndentation() const { return 0; }

    // The first TIniObject among the direct items; the next TIniObject sibling.
    TIniObject* FirstObject() const;
    static TIniObject* NextObject(const TCommonIniItem& item);

    // Typed reads never raise: a missing key or unreadable text gives the default.
    std::u16string ReadString(std::u16string_view key, std::u16string_view defaultValue) const;
    int32_t ReadInteger(std::u16string_view key, int32_t defaultValue) const;
    double ReadReal(std::u16string_view key, double defaultValue) const;
    // Only an optional minus directly followed by digits, within 32 bits, counts;
    // true when not 0.
    bool ReadBool(std::u16string_view key, bool defaultValue) const;
    void WriteString(std::u16string_view key, std::u16string_view value);
    void WriteInteger(std::u16string_view key, int32_t value);
    void WriteReal(std::u16string_view key, double value);
    void WriteBool(std::u16string_view key, bool value);

protected:
    void Registered(TCommonIniItem& item) override;
    void Unregistered(TCommonIniItem& item) override;
    // Looks in this collection's own index only.
    TIniIdent* FindOwnIdent(const std::u16string& lowerName, uint32_t hash) const;

private:
    std::unique_ptr<std::array<TIniIdent*, kKeyBuckets>> m_keyIndex;
};

// A collection introduced by a header line. Columns are 1-based.
class TCommonIniSection : public TIniIdentList {
public:
    TCommonIniSection(std::u16string header, int nameStart, int nameLength)
        : m_header(std::move(header)), m_nameStart(nameStart), m_nameLength(nameLength) {}

    const std::u16string& Header() const { return m_header; }
    std::u16string Name() const;
    // Replaces the name in the header line.
    virtual void Rename(std::u16string_view newName);
    void WriteLines(TIniLineSink& sink) const override;

protected:
    std::u16string m_header;
    int m_nameStart;
    int m_nameLength;
};

// An INI section. Same-named sections are twins: lookups of keys through any of
// them see the keys of all, later occurrences first.
class TIniSection : public TCommonIniSection {
public:
    TIniSection(std::u16string header, int nameStart, int nameLength);
    ~TIniSection() override;

    TCommonIniItem& CopyTo(TIniCollection& target) const override;
    void Rename(std::u16string_view newName) override;
    TIniIdent* FindIdent(std::u16string_view name) const override;

    const std::u16string& LowerName() const { return m_lowerName; }
    TIniSection* EarlierTwin() const { return m_earlierTwin; }
    TIniSection* LaterTwin() const { return m_laterTwin; }

private:
    friend class TIniStorage;
    std::u16string m_lowerName;
    uint32_t m_hash;
    TIniStorage* m_index = nullptr;  // the document whose section index holds this
    int m_bucket = -1;
    TIniSection* m_nextInBucket = nullptr;
    TIniSection* m_prevInBucket = nullptr;
    TIniSection* m_earlierTwin = nullptr;
    TIniSection* m_laterTwin = nullptr;
};

// An object block "object name : class" up to its "end" line, which is kept as
// the block's last item.
class TIniObject : public TCommonIniSection {
public:
    // colonColumn is 0 when the header has no colon; then the name is empty and
    // the whole rest of the line is the class.
    TIniObject(std::u16string header, int nameStart, int nameLength, int colonColumn,
               int classStart);
    TCommonIniItem& CopyTo(TIniCollection& target) const override;
    int DefaultIndentation() const override { return m_indentation + 2; }
    void Rename(std::u16string_view newName) override;

    // The class text, trailing blanks and tabs removed.
    std::u16string ObjectClass() const;
    void SetObjectClass(std::u16string_view className);
    int ClassStart() const { return m_classStart; }
    int Indentation() const { return m_indentation; }

protected:
    int m_colonColumn;
    int m_classStart;
    int m_indentation;
};

// A block opened by a keyword other than "object" that the document accepted.
class TIniExtraObject : public TIniObject {
public:
    TIniExtraObject(std::u16string keyword, std::u16string header, int nameStart, int nameLength,
                    int colonColumn, int classStart)
        : TIniObject(std::move(header), nameStart, nameLength, colonColumn, classStart),
          m_keyword(std::move(keyword)) {}
    TCommonIniItem& CopyTo(TIniCollection& target) const override;
    const std::u16string& Keyword() const { return m_keyword; }

private:
    std::u16string m_keyword;
};

// The whole document. Keys before the first section live in its own key index.
class TIniStorage : public TIniIdentList {
public:
    static constexpr int kSectionBuckets = 9973;

    TIniStorage() = default;
    ~TIniStorage() override;

    void Clear() override;
    void WriteLines(TIniLineSink& sink) const override;
    // A whole document cannot become an item of another; an assertion.
    TCommonIniItem& CopyTo(TIniCollection& target) const override;

    // UTF-8 with a byte-order mark and CR LF after every line; false when writing failed.
    bool SaveToStream(TStream& stream) const;
    bool SaveToLines(std::vector<std::u16string>& lines) const;

    bool SectionExists(std::u16string_view name) const { return FindSection(name) != nullptr; }
    // The most recently registered section of that name; nullptr when missing.
    TIniSection* FindSection(std::u16string_view name) const;
    // Appends "[name]" (after a blank line unless the document ends with one).
    TIniSection& FindOrAddSection(std::u16string_view name);
    // Every section header's name in document order (repeated names repeat).
    std::vector<std::u16string> SectionNames() const;

    using TIniIdentList::ReadBool;
    using TIniIdentList::ReadInteger;
    using TIniIdentList::ReadReal;
    using TIniIdentList::ReadString;
    using TIniIdentList::WriteBool;
    using TIniIdentList::WriteInteger;
    using TIniIdentList::WriteReal;
    using TIniIdentList::WriteString;

    // Typed reads never raise: a missing section or key or unreadable text gives
    // the default.
    std::u16string ReadString(std::u16string_view section, std::u16string_view key,
                              std::u16string_view defaultValue) const;
    int32_t ReadInteger(std::u16string_view section, std::u16string_view key,
                        int32_t defaultValue) const;
    double ReadReal(std::u16string_view section, std::u16string_view key,
                    double defaultValue) const;
    // Read integer with the default as 1 or 0; true when not 0 ("True" gives the default).
    bool ReadBool(std::u16string_view section, std::u16string_view key, bool defaultValue) const;
    void WriteString(std::u16string_view section, std::u16string_view key,
                     std::u16string_view value);
    void WriteInteger(std::u16string_view section, std::u16string_view key, int32_t value);
    void WriteReal(std::u16string_view section, std::u16string_view key, double value);
    void WriteBool(std::u16string_view section, std::u16string_view key, bool value);

protected:
    void Registered(TCommonIniItem& item) override;
    void Unregistered(TCommonIniItem& item) override;

private:
    friend class TIniSection;
    void RegisterSection(TIniSection& section);
    void UnregisterSection(TIniSection& section);

    std::unique_ptr<std::array<TIniSection*, kSectionBuckets>> m_sectionIndex;
};

// A document loaded from a stream.
class TIniFile : public TIniStorage {
public:
    // Object blocks nest at most this deep; deeper "object" lines stay text lines
    // (reported as code 2) so that saving, copying and freeing stay shallow.
    static constexpr int kMaxObjectDepth = 256;

    // (document, code, 1-based column of the line's first non-blank character,
    // 0-based line number). May raise EIniParseError to stop the parse.
    using TParseErrorHook = std::function<void(TIniFile& document, int code, int column,
                                               int64_t lineNumber)>;
    // Answers whether a word other than "object" opens a block.
    using TKeywordHook = std::function<bool(std::u16string_view word)>;

    void SetParseErrorHook(TParseErrorHook hook) { m_parseErrorHook = std::move(hook); }
    void SetKeywordHook(TKeywordHook hook) { m_keywordHook = std::move(hook); }

    // Clears the document and parses the stream (encoding from its byte-order
    // mark). false when a hook stopped the parse. Text decoding errors
    // (EInvalidChar) and stream errors pass out.
    bool LoadFromStream(TStream& stream);
    // The same over lines that are already split.
    bool LoadFromLines(const std::vector<std::u16string>& lines);
    // Raises EFileOpenError when the file cannot be opened.
    bool LoadFromFile(const std::u16string& fileName);

    bool LastLoadResult() const { return m_lastLoadResult; }
    // The code of the EIniParseError that stopped the last load; -1 when none did.
    int LastAbortCode() const { return m_lastAbortCode; }

private:
    class TParser;
    friend class TParser;

    TParseErrorHook m_parseErrorHook;
    TKeywordHook m_keywordHook;
    bool m_lastLoadResult = true;
    int m_lastAbortCode = -1;
};

}  // namespace ql
