#include "QlLib/qlIniStorage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "QlLib/qlTextReader.h"
#include "QlLib/qpStringUtils.h"

namespace ql {
namespace {

const std::string kBom = "\xEF\xBB\xBF";

struct THookCall {
    int code;
    int column;
    int64_t line;
};

// A document loaded from UTF-8 text, with every hook call recorded.
struct TLoaded {
    TIniFile doc;
    std::vector<THookCall> calls;
    bool result = false;

    explicit TLoaded(const std::string& utf8, bool withBom = true) {
        doc.SetParseErrorHook([this](TIniFile&, int code, int column, int64_t line) {
            calls.push_back({code, column, line});
        });
        TStringStream stream(withBom ? kBom + utf8 : utf8);
        result = doc.LoadFromStream(stream);
    }
};

std::string Save(const TIniStorage& doc) {
    TStringStream out;
    EXPECT_TRUE(doc.SaveToStream(out));
    return out.DataString();
}

// A stream that takes nothing.
class TFullStream : public TMemoryStream {
public:
    size_t Write(const void*, size_t) override { return 0; }
};

// ---------------------------------------------------------------- line classification

TEST(IniParse, KeyWithSurroundingBlanks_NameAndValueTrimmedCaseInsensitive) {
    TLoaded l("[S]\r\n  Key = some value  \r\n");
    EXPECT_EQ(l.doc.ReadString(u"s", u"key", u"x"), u"some value");
    EXPECT_EQ(l.doc.ReadString(u"S", u"KEY", u"x"), u"some value");
    const TIniIdent* key = l.doc.FindSection(u"S")->FindIdent(u"kEy");
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->Name(), u"Key");
    EXPECT_EQ(key->NameStart(), 3);
    EXPECT_TRUE(l.calls.empty());
}

TEST(IniParse, ValueKeepsEqualsSignsSemicolonsAndInnerBlanks) {
    TLoaded l("a=b=c\r\nb = x ; not a comment\r\nc=\r\nd=   \r\n");
    EXPECT_EQ(l.doc.ReadString(u"a", u""), u"b=c");
    EXPECT_EQ(l.doc.ReadString(u"b", u""), u"x ; not a comment");
    EXPECT_EQ(l.doc.ReadString(u"c", u"def"), u"");
    EXPECT_EQ(l.doc.ReadString(u"d", u"def"), u"");
}

TEST(IniParse, BlankInsideKeyName_ReportedAsCode2AndDropped) {
    TLoaded l("first=1\r\na b=c\r\n");
    ASSERT_EQ(l.calls.size(), 1u);
    EXPECT_EQ(l.calls[0].code, kIniUnknownLine);
    EXPECT_EQ(l.calls[0].column, 1);
    EXPECT_EQ(l.calls[0].line, 1);
    EXPECT_EQ(l.doc.FindIdent(u"a"), nullptr);
    EXPECT_EQ(Save(l.doc), kBom + "first=1\r\n");
}

TEST(IniParse, UnknownLineColumnIsItsFirstNonBlankCharacter) {
    TLoaded l("\t  word\r\n");
    ASSERT_EQ(l.calls.size(), 1u);
    EXPECT_EQ(l.calls[0].column, 4);
}

TEST(IniParse, SectionHeader_BlanksTrimmedAndTrailingTextKept) {
    TLoaded l("[  My Sec\t] trailing\r\nk=v\r\n");
    ASSERT_EQ(l.doc.SectionNames(), std::vector<std::u16string>{u"My Sec"});
    EXPECT_EQ(l.doc.ReadString(u"my sec", u"k", u""), u"v");
    EXPECT_EQ(Save(l.doc), kBom + "[  My Sec\t] trailing\r\nk=v\r\n");
}

TEST(IniParse, HeaderWithoutClosingBracketOrName_KeptAsTextLines) {
    const std::string text = "[open\r\n[]\r\n[   ]\r\n=lonely\r\n";
    TLoaded l(text);
    EXPECT_TRUE(l.doc.SectionNames().empty());
    EXPECT_TRUE(l.calls.empty());
    EXPECT_EQ(Save(l.doc), kBom + text);
}

TEST(IniParse, BracketInsideNameEndsAtFirstClosingBracket) {
    TLoaded l("[a]b]\r\n");
    EXPECT_EQ(l.doc.SectionNames(), std::vector<std::u16string>{u"a"});
}

TEST(IniParse, CommentRemembersItsSemicolonColumn) {
    TLoaded l("  ; note\r\n");
    const auto* comment = dynamic_cast<const TIniComment*>(l.doc.First());
    ASSERT_NE(comment, nullptr);
    EXPECT_EQ(comment->SemicolonColumn(), 3);
    EXPECT_EQ(comment->Text(), u"  ; note");
}

TEST(IniParse, ObjectBlock_NameAndClassWithoutBlanksAroundColon) {
    TLoaded l("[S]\r\nobject My Name : TClass \r\n  x=1\r\nend\r\nafter=2\r\n");
    EXPECT_TRUE(l.calls.empty());
    TIniSection* s = l.doc.FindSection(u"S");
    TIniObject* o = s->FirstObject();
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(o->Name(), u"My Name");
    EXPECT_EQ(o->ObjectClass(), u"TClass");
    EXPECT_EQ(o->ReadInteger(u"x", 0), 1);
    // The "end" closed the block: the next key is the section's.
    EXPECT_EQ(s->ReadInteger(u"after", 0), 2);
    EXPECT_EQ(o->FindIdent(u"after"), nullptr);
    EXPECT_EQ(Save(l.doc), kBom + "[S]\r\nobject My Name : TClass \r\n  x=1\r\nend\r\nafter=2\r\n");
}

TEST(IniParse, ObjectWithoutColon_HasEmptyNameAndWholeRestAsClass) {
    TLoaded l("object  TClass extra\r\nend\r\n");
    TIniObject* o = l.doc.FirstObject();
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(o->Name(), u"");
    EXPECT_EQ(o->ObjectClass(), u"TClass extra");
}

TEST(IniParse, ObjectNameEndsAtLastColon) {
    TLoaded l("object a:b : C\r\nend\r\n");
    EXPECT_EQ(l.doc.FirstObject()->Name(), u"a:b");
    EXPECT_EQ(l.doc.FirstObject()->ObjectClass(), u"C");
}

TEST(IniParse, ObjectKeywordIsCaseSensitive) {
    TLoaded l("Object a:B\r\n");
    EXPECT_EQ(l.doc.FirstObject(), nullptr);
    ASSERT_EQ(l.calls.size(), 1u);
    EXPECT_EQ(l.calls[0].code, kIniUnknownLine);
}

TEST(IniParse, EndAtTopLevel_ReportedAsCode0AndDropped) {
    TLoaded l("[S]\r\nend\r\n");
    ASSERT_EQ(l.calls.size(), 1u);
    EXPECT_EQ(l.calls[0].code, kIniEndWithoutObject);
    EXPECT_EQ(l.calls[0].line, 1);
    EXPECT_EQ(Save(l.doc), kBom + "[S]\r\n");
}

TEST(IniParse, ObjectsLeftOpen_ReportedAsCode1AfterTheLastLine) {
    TLoaded l("object a:A\r\n  object b:B\r\n");
    EXPECT_TRUE(l.result);
    ASSERT_EQ(l.calls.size(), 1u);
    EXPECT_EQ(l.calls[0].code, kIniObjectsLeftOpen);
    EXPECT_EQ(l.calls[0].line, 2);
}

TEST(IniParse, SectionHeaderInsideOpenObject_StartsTopLevelSection) {
    TLoaded l("[A]\r\nobject o:O\r\n[B]\r\nk=1\r\nend\r\n");
    ASSERT_EQ(l.doc.SectionNames(), (std::vector<std::u16string>{u"A", u"B"}));
    EXPECT_EQ(l.doc.ReadInteger(u"B", u"k", 0), 1);
    ASSERT_EQ(l.calls.size(), 2u);
    EXPECT_EQ(l.calls[0].code, kIniEndWithoutObject);
    EXPECT_EQ(l.calls[1].code, kIniObjectsLeftOpen);
}

TEST(IniParse, KeywordHook_OpensExtraObjectThatRemembersTheWord) {
    TIniFile doc;
    doc.SetKeywordHook([](std::u16string_view word) { return word == u"inherited"; });
    TStringStream in(kBom + "inherited b : TB\r\n  k=v\r\nend\r\n");
    ASSERT_TRUE(doc.LoadFromStream(in));
    auto* extra = dynamic_cast<TIniExtraObject*>(doc.FirstObject());
    ASSERT_NE(extra, nullptr);
    EXPECT_EQ(extra->Keyword(), u"inherited");
    EXPECT_EQ(extra->Name(), u"b");
    EXPECT_EQ(extra->ReadString(u"k", u""), u"v");
}

TEST(IniParse, HookRaisingParseError_StopsLoadAndHearsTheCode) {
    TIniFile doc;
    std::vector<int> codes;
    doc.SetParseErrorHook([&](TIniFile&, int code, int, int64_t) {
        codes.push_back(code);
        if (codes.size() == 1) throw EIniParseError(42);
    });
    TStringStream in("a=1\r\nbad\r\nb=2\r\n");
    EXPECT_FALSE(doc.LoadFromStream(in));
    EXPECT_FALSE(doc.LastLoadResult());
    EXPECT_EQ(doc.LastAbortCode(), 42);
    EXPECT_EQ(codes, (std::vector<int>{kIniUnknownLine, 42}));
    EXPECT_EQ(doc.FindIdent(u"b"), nullptr);
}

TEST(IniParse, LoneCharacterLines_ClassifiedByTheirFirstCharacter) {
    TLoaded l(";\r\nx\r\n");
    EXPECT_NE(dynamic_cast<const TIniComment*>(l.doc.First()), nullptr);
    ASSERT_EQ(l.calls.size(), 1u);
    EXPECT_EQ(l.calls[0].code, kIniUnknownLine);
}

// ---------------------------------------------------------------- nesting bound

TEST(IniNesting, BlocksBeyondTheDepthLimit_StayTextAndRoundTrip) {
    const int depth = TIniFile::kMaxObjectDepth + 40;
    std::string text;
    for (int i = 0; i < depth; ++i) text += "object o:T\r\n";
    text += "k=1\r\n";
    for (int i = 0; i < depth; ++i) text += "end\r\n";
    TLoaded l(text);
    int reported = 0;
    for (const auto& call : l.calls) reported += call.code == kIniUnknownLine;
    EXPECT_EQ(reported, 40);
    EXPECT_EQ(l.calls.size(), 40u);  // every "end" found its block or its text line

    int levels = 0;
    const TIniIdentList* deepest = &l.doc;
    while (TIniObject* o = deepest->FirstObject()) {
        deepest = o;
        ++levels;
    }
    EXPECT_EQ(levels, TIniFile::kMaxObjectDepth);
    EXPECT_EQ(deepest->ReadInteger(u"k", 0), 1);
    EXPECT_EQ(Save(l.doc), kBom + text);
}

TEST(IniNesting, HostileDepth_LoadsSavesAndFreesWithoutOverflow) {
    std::string text;
    for (int i = 0; i < 50000; ++i) text += "object o:T\n";
    auto doc = std::make_unique<TLoaded>(text);
    TStringStream out;
    EXPECT_TRUE(doc->doc.SaveToStream(out));
    TIniFile copy;
    copy.Assign(doc->doc);
    doc.reset();
}

// ---------------------------------------------------------------- lookups

TEST(IniLookup, DuplicateKeys_LastOccurrenceWinsUntilItIsFreed) {
    TLoaded l("[S]\r\nk=1\r\nK=2\r\nk=3\r\n");
    TIniSection* s = l.doc.FindSection(u"S");
    EXPECT_EQ(s->ReadInteger(u"k", 0), 3);
    s->FindIdent(u"k")->Free();
    EXPECT_EQ(s->ReadInteger(u"k", 0), 2);
    s->FindIdent(u"k")->Free();
    EXPECT_EQ(s->ReadInteger(u"k", 0), 1);
    s->FindIdent(u"k")->Free();
    EXPECT_EQ(s->FindIdent(u"k"), nullptr);
    EXPECT_EQ(Save(l.doc), kBom + "[S]\r\n");
}

TEST(IniLookup, RepeatedSectionNames_ReadAsOneLaterKeysFirst) {
    TLoaded l("[S]\r\na=1\r\nb=1\r\n[T]\r\n[s]\r\nb=2\r\nc=2\r\n");
    EXPECT_EQ(l.doc.SectionNames(), (std::vector<std::u16string>{u"S", u"T", u"s"}));
    EXPECT_EQ(l.doc.ReadInteger(u"S", u"a", 0), 1);
    EXPECT_EQ(l.doc.ReadInteger(u"S", u"b", 0), 2);
    EXPECT_EQ(l.doc.ReadInteger(u"S", u"c", 0), 2);
    // Through the earlier twin the same keys are seen.
    auto* first = dynamic_cast<TIniSection*>(l.doc.First());
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->ReadInteger(u"c", 0), 2);
    EXPECT_EQ(first->LaterTwin(), l.doc.FindSection(u"S"));
}

TEST(IniLookup, FreeingOneTwin_KeepsTheOtherFindable) {
    TLoaded l("[S]\r\na=1\r\n[S]\r\nb=2\r\n");
    l.doc.FindSection(u"S")->Free();
    ASSERT_NE(l.doc.FindSection(u"S"), nullptr);
    EXPECT_EQ(l.doc.ReadInteger(u"S", u"a", 0), 1);
    EXPECT_EQ(l.doc.ReadInteger(u"S", u"b", 0), 0);
    l.doc.FindSection(u"S")->Free();
    EXPECT_FALSE(l.doc.SectionExists(u"S"));
}

TEST(IniLookup, KeysBeforeFirstSection_BelongToTheDocument) {
    TLoaded l("top=1\r\n[S]\r\ninner=2\r\n");
    EXPECT_EQ(l.doc.ReadInteger(u"top", 0), 1);
    EXPECT_EQ(l.doc.ReadInteger(u"inner", 0), 0);
    EXPECT_EQ(l.doc.ReadInteger(u"S", u"top", 0), 0);
}

TEST(IniLookup, RenamedSection_FoundOnlyUnderItsNewName) {
    TLoaded l("[Old]\r\nk=1\r\n");
    l.doc.FindSection(u"old")->Rename(u"New");
    EXPECT_FALSE(l.doc.SectionExists(u"Old"));
    EXPECT_EQ(l.doc.ReadInteger(u"new", u"k", 0), 1);
    EXPECT_EQ(Save(l.doc), kBom + "[New]\r\nk=1\r\n");
}

TEST(IniLookup, ObjectWalk_SkipsKeysAndTextLines) {
    TLoaded l("[S]\r\nobject a:A\r\nend\r\nk=1\r\n; c\r\nobject b:B\r\n object c:C\r\n end\r\nend\r\n");
    TIniSection* s = l.doc.FindSection(u"S");
    TIniObject* a = s->FirstObject();
    ASSERT_NE(a, nullptr);
    TIniObject* b = TIniIdentList::NextObject(*a);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->Name(), u"b");
    EXPECT_EQ(TIniIdentList::NextObject(*b), nullptr);
    EXPECT_EQ(b->FirstObject()->Name(), u"c");
}

TEST(IniLookup, LargeDocumentWithOneRepeatedKey_LoadsAndClearsQuickly) {
    std::string text = "[S]\n";
    for (int i = 0; i < 100000; ++i) text += "k=" + std::to_string(i) + "\n";
    TLoaded l(text);
    EXPECT_EQ(l.doc.ReadInteger(u"S", u"k", -1), 99999);
    l.doc.Clear();
    EXPECT_FALSE(l.doc.SectionExists(u"S"));
}

// ---------------------------------------------------------------- typed reads

TEST(IniTypedRead, Integer_InvalidTextOrOverflowGivesDefault) {
    TLoaded l("[S]\r\na=12abc\r\nb=-17\r\nc=2147483648\r\nd=$10\r\ne=+5\r\nf=\r\n");
    EXPECT_EQ(l.doc.ReadInteger(u"S", u"a", 7), 7);
    EXPECT_EQ(l.doc.ReadInteger(u"S", u"b", 7), -17);
    EXPECT_EQ(l.doc.ReadInteger(u"S", u"c", 7), 7);
    EXPECT_EQ(l.doc.ReadInteger(u"S", u"d", 7), 7);
    EXPECT_EQ(l.doc.ReadInteger(u"S", u"e", 7), 5);
    EXPECT_EQ(l.doc.ReadInteger(u"S", u"f", 7), 7);
    EXPECT_EQ(l.doc.ReadInteger(u"S", u"missing", 7), 7);
    EXPECT_EQ(l.doc.ReadInteger(u"Nope", u"b", 7), 7);
}

TEST(IniTypedRead, Real_FullStopOnlyAndFiniteOnly) {
    TLoaded l("[S]\r\na=1.5\r\nb=1,5\r\nc=nan\r\nd=1e400\r\ne=-2.5e-3\r\n");
    EXPECT_DOUBLE_EQ(l.doc.ReadReal(u"S", u"a", 9), 1.5);
    EXPECT_DOUBLE_EQ(l.doc.ReadReal(u"S", u"b", 9), 9);
    EXPECT_DOUBLE_EQ(l.doc.ReadReal(u"S", u"c", 9), 9);
    EXPECT_DOUBLE_EQ(l.doc.ReadReal(u"S", u"d", 9), 9);
    EXPECT_DOUBLE_EQ(l.doc.ReadReal(u"S", u"e", 9), -0.0025);
}

TEST(IniTypedRead, DocumentBool_IsIntegerNotZero) {
    TLoaded l("[S]\r\ntwo=2\r\nzero=0\r\nword=True\r\nplus=+1\r\n");
    EXPECT_TRUE(l.doc.ReadBool(u"S", u"two", false));
    EXPECT_FALSE(l.doc.ReadBool(u"S", u"zero", true));
    EXPECT_TRUE(l.doc.ReadBool(u"S", u"word", true));
    EXPECT_FALSE(l.doc.ReadBool(u"S", u"word", false));
    EXPECT_TRUE(l.doc.ReadBool(u"S", u"plus", false));
}

TEST(IniTypedRead, CollectionBool_AcceptsOnlyOptionalMinusAndDigits) {
    TLoaded l("[S]\r\ntwo=2\r\nneg=-1\r\nzero=0\r\nplus=+1\r\nempty=\r\nword=True\r\nbig=99999999999\r\n"
              "lone=-\r\n");
    const TIniSection* s = l.doc.FindSection(u"S");
    EXPECT_TRUE(s->ReadBool(u"two", false));
    EXPECT_TRUE(s->ReadBool(u"neg", false));
    EXPECT_FALSE(s->ReadBool(u"zero", true));
    for (const char16_t* key : {u"plus", u"empty", u"word", u"big", u"lone", u"missing"}) {
        EXPECT_TRUE(s->ReadBool(key, true)) << ToUtf8(key);
        EXPECT_FALSE(s->ReadBool(key, false)) << ToUtf8(key);
    }
}

// ---------------------------------------------------------------- writing

TEST(IniWrite, ExistingKey_KeepsNameAndSpacing) {
    TLoaded l("[S]\r\n  Key =  old  \r\n");
    l.doc.WriteString(u"s", u"KEY", u"new");
    EXPECT_EQ(Save(l.doc), kBom + "[S]\r\n  Key =  new\r\n");
}

TEST(IniWrite, NewKeyInIndentedObject_IndentedByFourAfterLastKeyBeforeNestedObjects) {
    TLoaded l("[S]\r\n  object o:O\r\n    a=1\r\n    object n:N\r\n    end\r\n  end\r\n");
    TIniObject* o = l.doc.FindSection(u"S")->FirstObject();
    ASSERT_EQ(o->Indentation(), 2);
    o->WriteString(u"b", u"2");
    EXPECT_EQ(Save(l.doc), kBom +
                               "[S]\r\n  object o:O\r\n    a=1\r\n    b=2\r\n    object n:N\r\n"
                               "    end\r\n  end\r\n");
}

TEST(IniWrite, NewKeyInObjectWithoutKeys_GoesFirst) {
    TLoaded l("object o:O\r\n  object n:N\r\n  end\r\nend\r\n");
    l.doc.FirstObject()->WriteInteger(u"k", 5);
    EXPECT_EQ(Save(l.doc), kBom + "object o:O\r\n  k=5\r\n  object n:N\r\n  end\r\nend\r\n");
}

TEST(IniWrite, NewSection_PrecededByBlankLineUnlessDocumentEndsBlank) {
    TLoaded l("[A]\r\nk=1\r\n");
    l.doc.WriteString(u"B", u"x", u"y");
    EXPECT_EQ(Save(l.doc), kBom + "[A]\r\nk=1\r\n\r\n[B]\r\nx=y\r\n");

    TLoaded blank("[A]\r\nk=1\r\n   \r\n");
    blank.doc.WriteInteger(u"B", u"x", 3);
    EXPECT_EQ(Save(blank.doc), kBom + "[A]\r\nk=1\r\n\r\n[B]\r\nx=3\r\n");

    TIniFile empty;
    empty.WriteBool(u"A", u"on", true);
    EXPECT_EQ(Save(empty), kBom + "[A]\r\non=1\r\n");
}

TEST(IniWrite, DocumentKey_GoesBeforeTheFirstSection) {
    TLoaded l("; head\r\n[A]\r\n");
    l.doc.WriteString(u"top", u"1");
    EXPECT_EQ(Save(l.doc), kBom + "top=1\r\n; head\r\n[A]\r\n");
}

TEST(IniWrite, TypedValues_ReadBackTheSame) {
    TIniFile doc;
    doc.WriteInteger(u"S", u"i", -2147483647 - 1);
    doc.WriteReal(u"S", u"r", 0.1);
    doc.WriteBool(u"S", u"b", false);
    EXPECT_EQ(doc.ReadInteger(u"S", u"i", 0), -2147483647 - 1);
    EXPECT_DOUBLE_EQ(doc.ReadReal(u"S", u"r", 0), 0.1);
    EXPECT_FALSE(doc.ReadBool(u"S", u"b", true));
    EXPECT_EQ(doc.ReadString(u"S", u"r", u""), u"0.1");
}

TEST(IniWrite, ObjectClassAndRename_ReadBackAfterReload) {
    TLoaded l("object a : A\r\nend\r\nobject Bare\r\nend\r\nobject\r\nend\r\n");
    TIniObject* a = l.doc.FirstObject();
    a->SetObjectClass(u"TLonger");
    a->Rename(u"renamed");
    TIniObject* bare = TIniIdentList::NextObject(*a);
    bare->Rename(u"n");
    TIniObject* empty = TIniIdentList::NextObject(*bare);
    empty->SetObjectClass(u"C");
    EXPECT_EQ(a->Name(), u"renamed");
    EXPECT_EQ(a->ObjectClass(), u"TLonger");
    EXPECT_EQ(bare->Name(), u"n");
    EXPECT_EQ(bare->ObjectClass(), u"Bare");
    EXPECT_EQ(empty->ObjectClass(), u"C");

    TLoaded again(Save(l.doc).substr(3));
    TIniObject* o = again.doc.FirstObject();
    EXPECT_EQ(o->Name(), u"renamed");
    EXPECT_EQ(o->ObjectClass(), u"TLonger");
    o = TIniIdentList::NextObject(*o);
    EXPECT_EQ(o->Name(), u"n");
    EXPECT_EQ(o->ObjectClass(), u"Bare");
    o = TIniIdentList::NextObject(*o);
    EXPECT_EQ(o->Name(), u"");
    EXPECT_EQ(o->ObjectClass(), u"C");
}

// ---------------------------------------------------------------- loading and saving

TEST(IniSave, UnchangedDocument_RoundTripsExceptBlanksUnknownLinesAndLineEnds) {
    const std::string in =
        "; comment\n\n  \t \r\n[Main]\rkey = value \r\nobject o : T\n  x=1\nend\nend\n"
        "garbage here\n[ Next ]  # tail\n=text\n";
    TLoaded l(in, false);
    EXPECT_EQ(Save(l.doc), kBom +
                               "; comment\r\n\r\n\r\n[Main]\r\nkey = value \r\nobject o : T\r\n"
                               "  x=1\r\nend\r\n[ Next ]  # tail\r\n=text\r\n");
}

TEST(IniSave, LineList_HoldsEveryLineInOrder) {
    TLoaded l("[A]\r\nk=1\r\n\r\n");
    std::vector<std::u16string> lines;
    ASSERT_TRUE(l.doc.SaveToLines(lines));
    EXPECT_EQ(lines, (std::vector<std::u16string>{u"[A]", u"k=1", u""}));
}

TEST(IniSave, FailingStreamOrUnpairedSurrogate_ReturnsFalse) {
    TLoaded l("[A]\r\n");
    TFullStream full;
    EXPECT_FALSE(l.doc.SaveToStream(full));

    TIniFile doc;
    doc.WriteString(u"A", u"k", std::u16string(u"\xD800") + u"x");
    TStringStream out;
    EXPECT_FALSE(doc.SaveToStream(out));
}

TEST(IniLoad, EmptyStream_GivesEmptyDocumentAndTrue) {
    TLoaded l("", false);
    EXPECT_TRUE(l.result);
    EXPECT_TRUE(l.doc.IsEmpty());
    EXPECT_EQ(Save(l.doc), kBom);
}

TEST(IniLoad, ReloadClearsThePreviousDocument) {
    TLoaded l("[A]\r\nk=1\r\n");
    TStringStream again("[B]\r\n");
    EXPECT_TRUE(l.doc.LoadFromStream(again));
    EXPECT_EQ(l.doc.SectionNames(), std::vector<std::u16string>{u"B"});
}

TEST(IniLoad, Utf16Text_DecodedFromItsMark) {
    std::string bytes = "\xFF\xFE";
    for (char c : std::string("[\xE9t\xE9]\r\nk=v\r\n")) {
        bytes += c;
        bytes += '\0';
    }
    TIniFile doc;
    TStringStream in(bytes);
    ASSERT_TRUE(doc.LoadFromStream(in));
    EXPECT_EQ(doc.ReadString(u"\u00E9t\u00E9", u"k", u""), u"v");
}

TEST(IniLoad, MalformedUtf8_RaisesInvalidChar) {
    TIniFile doc;
    TStringStream in(kBom + "[A]\r\nk=\x80\r\n");
    EXPECT_THROW(doc.LoadFromStream(in), EInvalidChar);
}

TEST(IniLoad, LinesFunction_ParsesLikeTheStream) {
    TIniFile doc;
    ASSERT_TRUE(doc.LoadFromLines({u"[A]", u"k = v", u"object o:O", u"end"}));
    EXPECT_EQ(doc.ReadString(u"A", u"k", u""), u"v");
    EXPECT_NE(doc.FindSection(u"A")->FirstObject(), nullptr);
}

// ---------------------------------------------------------------- items and ownership

TEST(IniItems, LineItemsRefuseSubItems) {
    TLoaded l("k=v\r\n");
    try {
        l.doc.First()->AddItem(std::make_unique<TIniEmptyLine>());
        FAIL() << "no assertion";
    } catch (const EAssertionFailed& e) {
        EXPECT_NE(e.Message().find("'TIniIdent cann`t has subitems'"), std::string::npos)
            << e.Message();
    }
}

TEST(IniItems, WholeDocumentCannotBeCopiedIntoACollection) {
    TIniFile a, b;
    try {
        a.CopyTo(b);
        FAIL() << "no assertion";
    } catch (const EAssertionFailed& e) {
        EXPECT_NE(e.Message().find("'Method not applicable'"), std::string::npos);
    }
}

TEST(IniItems, CopyIntoItsOwnSubtree_IsRefused) {
    TLoaded l("object a:A\r\n  object b:B\r\n  end\r\nend\r\n");
    TIniObject* a = l.doc.FirstObject();
    EXPECT_THROW(a->CopyTo(*a->FirstObject()), EAssertionFailed);
    EXPECT_THROW(a->MoveTo(*a), EAssertionFailed);
}

TEST(IniItems, Assign_CopiesWithIndexesAndStaysIndependent) {
    TLoaded l("top=0\r\n[A]\r\nk=1\r\nobject o:O\r\n  x=2\r\nend\r\n");
    TIniFile copy;
    copy.Assign(l.doc);
    EXPECT_EQ(Save(copy), Save(l.doc));
    EXPECT_EQ(copy.ReadInteger(u"top", -1), 0);
    EXPECT_EQ(copy.ReadInteger(u"A", u"k", -1), 1);
    EXPECT_EQ(copy.FindSection(u"A")->FirstObject()->ReadInteger(u"x", -1), 2);
    copy.WriteInteger(u"A", u"k", 9);
    EXPECT_EQ(l.doc.ReadInteger(u"A", u"k", -1), 1);
}

TEST(IniItems, MovedKey_IsFoundOnlyInItsNewOwner) {
    TLoaded l("[A]\r\nk=1\r\n[B]\r\n");
    TIniSection* a = l.doc.FindSection(u"A");
    TIniSection* b = l.doc.FindSection(u"B");
    a->FindIdent(u"k")->MoveTo(*b);
    EXPECT_EQ(a->FindIdent(u"k"), nullptr);
    EXPECT_EQ(b->ReadInteger(u"k", 0), 1);
    EXPECT_EQ(Save(l.doc), kBom + "[A]\r\n[B]\r\nk=1\r\n");
}

TEST(IniItems, FreedSection_LeavesTheSectionIndex) {
    TLoaded l("[A]\r\nk=1\r\n[B]\r\n");
    l.doc.FindSection(u"A")->Free();
    EXPECT_FALSE(l.doc.SectionExists(u"A"));
    EXPECT_TRUE(l.doc.SectionExists(u"B"));
    EXPECT_EQ(Save(l.doc), kBom + "[B]\r\n");
}

}  // namespace
}  // namespace ql
