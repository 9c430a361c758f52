#include "QlLib/qlTextReader.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace ql {
namespace {

std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s.push_back(static_cast<char>(v));
    return s;
}

// Everything the reader delivers, read in pieces of the given size.
std::u16string ReadAll(TTextReader& reader, size_t piece = 1000) {
    std::u16string out;
    std::vector<char16_t> buffer(piece);
    for (;;) {
        const size_t n = reader.Read(buffer.data(), piece);
        if (n == 0) break;
        out.append(buffer.data(), n);
    }
    return out;
}

struct TLine {
    std::u16string text;
    int kind;
    int64_t number;
    int64_t offset;
    bool operator==(const TLine&) const = default;
};

std::vector<TLine> Lines(const std::string& bytes) {
    TTextParser parser;
    parser.AttachStream(std::make_unique<TStringStream>(bytes));
    std::vector<TLine> lines;
    for (bool ok = parser.Start(); ok; ok = parser.NextLine())
        lines.push_back(
            {parser.Line(), parser.LineEndKind(), parser.LineNumber(), parser.LineOffset()});
    return lines;
}

std::string Utf16LE(const std::u16string& text) {
    std::string s;
    for (char16_t c : text) {
        s.push_back(static_cast<char>(c & 0xFF));
        s.push_back(static_cast<char>(c >> 8));
    }
    return s;
}

// ---------------------------------------------------------------- detection

TEST(TextReaderDetection, MarksPickTheirReaders) {
    struct TCase {
        std::string bytes;
        const char* cls;
    };
    const TCase cases[] = {
        {Bytes({0xFF, 0xFE, 'A', 0}), "TUnicodeReader"},
        {Bytes({0xFE, 0xFF, 0, 'A'}), "TUnicodeBEReader"},
        {Bytes({0xEF, 0xBB, 0xBF, 'A'}), "TUTF8Reader"},
        {"A", "TAnsiReader"},
        {"", "TAnsiReader"},
    };
    for (const auto& c : cases) {
        TStringStream stream(c.bytes);
        auto reader = OpenTextReader(stream);
        ASSERT_NE(reader, nullptr);
        EXPECT_EQ(reader->ClassName(), c.cls);
        EXPECT_EQ(ReadAll(*reader), c.bytes.empty() ? u"" : u"A") << c.cls;
    }
}

TEST(TextReaderDetection, LoneFFIsAnsiWithThePositionBackAtZero) {
    TStringStream stream(Bytes({0xFF}));
    auto reader = OpenTextReader(stream);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->ClassName(), "TAnsiReader");
    EXPECT_EQ(stream.GetPosition(), 0);
    EXPECT_EQ(ReadAll(*reader), u"\u00FF");
}

TEST(TextReaderDetection, DeclinedUtf8MarkPutsThePositionBack) {
    // EF BB without BF is no mark: the ANSI reader must see all three bytes.
    TStringStream stream(Bytes({0xEF, 0xBB, 'x'}));
    auto reader = OpenTextReader(stream);
    EXPECT_EQ(reader->ClassName(), "TAnsiReader");
    EXPECT_EQ(ReadAll(*reader), u"\u00EF\u00BBx");
}

TEST(TextReaderDetection, StartsWhereTheStreamStands) {
    TStringStream stream("junk" + Bytes({0xFF, 0xFE, 'Z', 0}));
    stream.SetPosition(4);
    auto reader = OpenTextReader(stream);
    EXPECT_EQ(reader->ClassName(), "TUnicodeReader");
    EXPECT_EQ(ReadAll(*reader), u"Z");
}

// ---------------------------------------------------------------- UTF-16

TEST(UnicodeReader, BigEndianUnitsDecode) {
    TStringStream stream(Bytes({0xFE, 0xFF, 0x00, 0x41}));
    auto reader = OpenTextReader(stream);
    EXPECT_EQ(reader->ClassName(), "TUnicodeBEReader");
    EXPECT_EQ(ReadAll(*reader), u"A");
}

TEST(UnicodeReader, SurrogatesPassThroughAndAnOddLastByteIsDropped) {
    TStringStream stream(Bytes({0xFF, 0xFE, 0x3D, 0xD8, 0x00, 0xDE, 0x42}));
    auto reader = OpenTextReader(stream);
    EXPECT_EQ(ReadAll(*reader), u"\xD83D\xDE00");
    EXPECT_EQ(reader->Read(nullptr, 0), 0u);
}

// A stream that hands out at most a few bytes per read, as pipes and sockets do.
class TChunkyStream : public TStringStream {
public:
    TChunkyStream(std::string text, size_t chunk)
        : TStringStream(std::move(text)), m_chunk(chunk) {}
    size_t Read(void* buffer, size_t count) override {
        return TStringStream::Read(buffer, std::min(count, m_chunk));
    }

private:
    size_t m_chunk;
};

TEST(UnicodeReader, UnitsSplitBetweenReadsOfTheStreamDecode) {
    std::u16string text;
    for (int i = 0; i < 40000; ++i) text.push_back(static_cast<char16_t>(0x100 + i % 5000));
    TChunkyStream le(Bytes({0xFF, 0xFE}) + Utf16LE(text), 1001);
    auto reader = OpenTextReader(le);
    EXPECT_EQ(ReadAll(*reader, 777), text);
}

TEST(Utf8Reader, SequencesSplitBetweenReadsOfTheStreamDecode) {
    const std::string unit = Bytes({'a', 0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98, 0x80});
    std::string bytes = Bytes({0xEF, 0xBB, 0xBF});
    std::u16string expected;
    for (int i = 0; i < 5000; ++i) bytes += unit, expected += u"a\u00E9\u20AC\xD83D\xDE00";
    TChunkyStream stream(bytes, 997);
    auto reader = OpenTextReader(stream);
    EXPECT_EQ(ReadAll(*reader, 333), expected);
}

TEST(TextReader, ReadCharsIsCutToTheRoomInTheTarget) {
    TStringStream stream("abcdef");
    TAnsiReader reader(stream);
    std::u16string target = u"xyz";
    EXPECT_EQ(reader.ReadChars(target, 2, 10), 2u);
    EXPECT_EQ(target, u"xab");
    EXPECT_THROW(reader.ReadChars(target, 4, 1), EAssertionFailed);
}

// ---------------------------------------------------------------- UTF-8

std::unique_ptr<TTextReader> Utf8Reader(TStringStream& stream) {
    auto reader = OpenTextReader(stream);
    EXPECT_EQ(reader->ClassName(), "TUTF8Reader");
    return reader;
}

TEST(Utf8Reader, DecodesOneToFourByteSequences) {
    TStringStream stream(
        Bytes({0xEF, 0xBB, 0xBF, 'a', 0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98, 0x80}));
    auto reader = Utf8Reader(stream);
    EXPECT_EQ(ReadAll(*reader), u"a\u00E9\u20AC\xD83D\xDE00");
}

TEST(Utf8Reader, SupplementaryCharacterReadOneAtATimeSplitsThePair) {
    TStringStream stream(Bytes({0xEF, 0xBB, 0xBF, 0xF0, 0x9F, 0x98, 0x80, 'z'}));
    auto reader = Utf8Reader(stream);
    char16_t c = 0;
    ASSERT_EQ(reader->Read(&c, 1), 1u);
    EXPECT_EQ(c, 0xD83D);
    ASSERT_EQ(reader->Read(&c, 1), 1u);
    EXPECT_EQ(c, 0xDE00);
    ASSERT_EQ(reader->Read(&c, 1), 1u);
    EXPECT_EQ(c, u'z');
    EXPECT_EQ(reader->Read(&c, 1), 0u);
    EXPECT_EQ(reader->Delivered(), 3);
}

TEST(Utf8Reader, MalformedInputRaisesInvalidChar) {
    const std::string bad[] = {
        Bytes({0x80}),        // lone continuation byte
        Bytes({0xC3, 0x41}),  // continuation byte missing
        Bytes({0xFE}),
        Bytes({0xFF}),                                // never leads
        Bytes({0xF8, 0x88, 0x80, 0x80, 0x80}),        // 5-byte form
        Bytes({0xFC, 0x84, 0x80, 0x80, 0x80, 0x80}),  // 6-byte form
        Bytes({0xF4, 0x90, 0x80, 0x80}),              // above 10FFFF
        Bytes({0xF7, 0xBF, 0xBF, 0xBF}),
        Bytes({'a', 0xE2, 0x82}),  // cut off by the end of the text
        Bytes({0xF0}),
    };
    for (const auto& b : bad) {
        TStringStream stream(Bytes({0xEF, 0xBB, 0xBF}) + b);
        auto reader = Utf8Reader(stream);
        EXPECT_THROW(ReadAll(*reader), EInvalidChar) << testing::PrintToString(b);
        // Nothing is left to hang on: later reads end.
        char16_t c;
        try {
            while (reader->Read(&c, 1) > 0) {
            }
        } catch (const EInvalidChar&) {
        }
    }
}

TEST(Utf8Reader, InvalidCharCarriesTheClassNameMessage) {
    TStringStream stream(Bytes({0xEF, 0xBB, 0xBF, 0x80}));
    auto reader = Utf8Reader(stream);
    try {
        ReadAll(*reader);
        FAIL();
    } catch (const EInvalidChar& e) {
        EXPECT_STREQ(e.what(), "Tarvik Exception: \"EInvalidChar\"");
    }
}

TEST(Utf8Reader, SequencesStraddlingTheBufferBoundaryDecode) {
    // 32768 buffer bytes: the mark plus filler put each multi-byte sequence kind
    // across the first refill in turn.
    for (const std::string& seq :
         {Bytes({0xC3, 0xA9}), Bytes({0xE2, 0x82, 0xAC}), Bytes({0xF0, 0x9F, 0x98, 0x80})}) {
        for (size_t shift = 1; shift < seq.size(); ++shift) {
            // The reader starts behind the mark, so its first buffer ends after
            // 32768 text bytes.
            const size_t filler = 32768 - shift;
            std::string bytes = Bytes({0xEF, 0xBB, 0xBF}) + std::string(filler, 'x') + seq + "end";
            TStringStream stream(bytes);
            auto reader = Utf8Reader(stream);
            const std::u16string expected =
                std::u16string(filler, u'x') + Utf8ToUnicode(seq) + u"end";
            EXPECT_EQ(ReadAll(*reader, 4096), expected) << seq.size() << "/" << shift;
        }
    }
}

TEST(Utf8Reader, SplitPairAtTheEndOfARead) {
    // A read whose last wanted character is the high half leaves the low half
    // for the next read, across a refill too.
    std::string bytes =
        Bytes({0xEF, 0xBB, 0xBF}) + std::string(32764, 'x') + Bytes({0xF0, 0x9F, 0x98, 0x80}) + "y";
    TStringStream stream(bytes);
    auto reader = Utf8Reader(stream);
    std::vector<char16_t> buffer(32765);
    ASSERT_EQ(reader->Read(buffer.data(), buffer.size()), buffer.size());
    EXPECT_EQ(buffer.back(), 0xD83D);
    char16_t two[2];
    ASSERT_EQ(reader->Read(two, 2), 2u);
    EXPECT_EQ(two[0], 0xDE00);
    EXPECT_EQ(two[1], u'y');
}

// ---------------------------------------------------------------- bookmarks

TEST(TextBookmark, RoundTripsInEveryReader) {
    const std::string texts[] = {
        Bytes({0xFF, 0xFE}) + Utf16LE(u"hello world"),
        Bytes({0xFE, 0xFF, 0, 'h', 0, 'e', 0, 'l', 0, 'l', 0, 'o',
               0,    ' ',  0, 'w', 0, 'o', 0, 'r', 0, 'l', 0, 'd'}),
        Bytes({0xEF, 0xBB, 0xBF}) + "hello world",
        "hello world",
    };
    for (const auto& bytes : texts) {
        TStringStream stream(bytes);
        auto reader = OpenTextReader(stream);
        char16_t buffer[6];
        ASSERT_EQ(reader->Read(buffer, 6), 6u);
        auto mark = reader->GetPosition();
        EXPECT_EQ(ReadAll(*reader), u"world");
        reader->SetPosition(*mark);
        EXPECT_EQ(reader->Delivered(), 6);
        EXPECT_EQ(ReadAll(*reader, 2), u"world") << reader->ClassName();
    }
}

TEST(TextBookmark, SplitSurrogateStateIsRestored) {
    TStringStream stream(Bytes({0xEF, 0xBB, 0xBF, 'a', 0xF0, 0x9F, 0x98, 0x80, 'b'}));
    auto reader = Utf8Reader(stream);
    char16_t c[2];
    ASSERT_EQ(reader->Read(c, 2), 2u);  // a, high half
    EXPECT_EQ(c[1], 0xD83D);
    auto mark = reader->GetPosition();
    EXPECT_EQ(ReadAll(*reader),
              u"\xDE00"
              u"b");
    reader->SetPosition(*mark);
    EXPECT_EQ(reader->Delivered(), 2);
    EXPECT_EQ(ReadAll(*reader, 1),
              u"\xDE00"
              u"b");
}

TEST(TextBookmark, BookmarkOfAnotherReaderIsRefused) {
    TStringStream s1("abc"), s2("abc");
    TAnsiReader a(s1), b(s2);
    TStringStream s3(Bytes({0xEF, 0xBB, 0xBF}) + "abc");
    auto u = OpenTextReader(s3);
    auto markOfB = b.GetPosition();
    auto markOfU = u->GetPosition();
    EXPECT_THROW(a.SetPosition(*markOfB), EIncorrectPositionValue);
    EXPECT_THROW(a.SetPosition(*markOfU), EIncorrectPositionValue);
}

// A stream that refuses to move.
class TNoSeekStream : public TStringStream {
public:
    using TStringStream::TStringStream;
    void SetPosition(int64_t) override {}
};

TEST(TextBookmark, StreamThatCannotSeekRaisesSeekError) {
    TNoSeekStream stream("abcdef");
    TAnsiReader reader(stream);
    auto mark = reader.GetPosition();
    ReadAll(reader);
    EXPECT_THROW(reader.SetPosition(*mark), EStreamSeekError);
}

// ---------------------------------------------------------------- line parser

TEST(TextParser, CrLfCrGivesThreeLinesWithTheirKinds) {
    const std::vector<TLine> expected = {
        {u"a", kLineEndCRLF, 0, 0}, {u"", kLineEndCR, 1, 3}, {u"b", kLineEndNone, 2, 4}};
    EXPECT_EQ(Lines("a\r\n\rb"), expected);
}

TEST(TextParser, LineEndKinds) {
    const std::vector<TLine> expected = {{u"a", kLineEndLF, 0, 0}, {u"b", kLineEndLFCR, 1, 2},
                                         {u"c", kLineEndCR, 2, 5}, {u"", kLineEndCR, 3, 7},
                                         {u"d", kLineEndLF, 4, 8}, {u"", kLineEndLF, 5, 10}};
    EXPECT_EQ(Lines("a\nb\n\rc\r\rd\n\n"), expected);
}

TEST(TextParser, EmptyTextHasNoLineAndAFinalLineEndNoExtraLine) {
    EXPECT_TRUE(Lines("").empty());
    EXPECT_TRUE(Lines(Bytes({0xEF, 0xBB, 0xBF})).empty());
    const std::vector<TLine> one = {{u"", kLineEndCRLF, 0, 0}};
    EXPECT_EQ(Lines("\r\n"), one);
    const std::vector<TLine> two = {{u"x", kLineEndCRLF, 0, 0}, {u"y", kLineEndCRLF, 1, 3}};
    EXPECT_EQ(Lines("x\r\ny\r\n"), two);
}

TEST(TextParser, LinesAndLineEndsAcrossBlocks) {
    // A line longer than a block, and a CR LF pair split between two blocks.
    std::string text =
        std::string(5000, 'a') + "\r\n" + std::string(4096 * 2 - 5001 - 2, 'b') + "\r\nlast";
    auto lines = Lines(text);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].text.size(), 5000u);
    EXPECT_EQ(lines[0].kind, kLineEndCRLF);
    EXPECT_EQ(lines[1].kind, kLineEndCRLF);
    EXPECT_EQ(lines[1].offset, 5002);
    EXPECT_EQ(lines[2].text, u"last");
    EXPECT_EQ(lines[2].offset, 4096 * 2 - 1 + 2);
}

TEST(TextParser, StartGoesBackToTheBeginning) {
    TTextParser parser;
    parser.AttachStream(
        std::make_unique<TStringStream>(Bytes({0xFF, 0xFE}) + Utf16LE(u"one\r\ntwo")));
    ASSERT_TRUE(parser.Start());
    ASSERT_TRUE(parser.NextLine());
    EXPECT_EQ(parser.Line(), u"two");
    EXPECT_FALSE(parser.NextLine());
    ASSERT_TRUE(parser.Start());
    EXPECT_EQ(parser.Line(), u"one");
    EXPECT_EQ(parser.LineNumber(), 0);
}

TEST(TextParser, DetachedStream_OwnedComesBackAndCallersStaysWithTheCaller) {
    // An owned stream is handed back, not freed.
    auto owned = std::make_unique<TStringStream>("x\ny");
    TStringStream* const ownedAddress = owned.get();
    TTextParser parser;
    parser.AttachStream(std::move(owned));
    ASSERT_TRUE(parser.Start());
    std::unique_ptr<TStream> back = parser.DetachStream();
    EXPECT_EQ(back.get(), ownedAddress);
    EXPECT_FALSE(parser.Start());

    // The caller's stream is only let go, and still reads.
    TStringStream callers("x\ny");
    parser.AttachStream(callers);
    ASSERT_TRUE(parser.Start());
    EXPECT_EQ(parser.Line(), u"x");
    EXPECT_EQ(parser.DetachStream(), nullptr);
    EXPECT_FALSE(parser.Start());
    callers.SetPosition(0);
    char first = 0;
    EXPECT_EQ(callers.Read(&first, 1), 1u);
    EXPECT_EQ(first, 'x');
}

TEST(TextParser, DetachedReader_OwnedComesBackAndCallersStaysWithTheCaller) {
    TStringStream stream("a\nb");
    TTextParser parser;
    std::unique_ptr<TTextReader> owned = OpenTextReader(stream);
    TTextReader* const ownedAddress = owned.get();
    // A parser starts where the reader stands when attached; the first one
    // reads the text through, so the reader is sent back before each attach.
    const std::unique_ptr<TTextPosition> start = owned->GetPosition();
    parser.AttachReader(std::move(owned));
    ASSERT_TRUE(parser.Start());
    std::unique_ptr<TTextReader> back = parser.DetachReader();
    EXPECT_EQ(back.get(), ownedAddress);
    EXPECT_FALSE(parser.Start());

    // The caller's reader can be attached again after the parser let it go.
    back->SetPosition(*start);
    parser.AttachReader(*back);
    ASSERT_TRUE(parser.Start());
    EXPECT_EQ(parser.Line(), u"a");
    EXPECT_EQ(parser.DetachReader(), nullptr);
    EXPECT_FALSE(parser.Start());
    back->SetPosition(*start);
    parser.AttachReader(std::move(back));
    ASSERT_TRUE(parser.Start());
    EXPECT_EQ(parser.Line(), u"a");
}

TEST(StringParser, ScanningHelpers) {
    TStringParser p;
    p.SetText(u" \tkey = a;b \t");
    EXPECT_EQ(p.SkipWhile(0, TStringParser::IsBlank), 2u);
    EXPECT_EQ(p.SkipBackWhile(p.Text().size(), TStringParser::IsBlank), 11u);
    EXPECT_EQ(p.FindFirstOf(u"=;"), 6u);
    EXPECT_EQ(p.FindLastOf(u"=;"), 9u);
    EXPECT_EQ(p.FindLastOf(u"=;", 9), 6u);
    EXPECT_EQ(p.FindFirstOf(u"#"), TStringParser::npos);
}

// ---------------------------------------------------------------- writers

TEST(TextWriter, WritersStartWithTheirMark) {
    TStringStream a, b;
    {
        TUnicodeWriter w(a);
        TUTF8Writer u(b);
    }
    EXPECT_EQ(a.DataString(), Bytes({0xFF, 0xFE}));
    EXPECT_EQ(b.DataString(), Bytes({0xEF, 0xBB, 0xBF}));
}

TEST(TextWriter, LineEndKindsInBothEncodings) {
    TStringStream a, b;
    TUnicodeWriter w(a);
    TUTF8Writer u(b);
    for (TTextWriter* writer : {static_cast<TTextWriter*>(&w), static_cast<TTextWriter*>(&u)}) {
        writer->WriteText(u"a", kLineEndLF);
        writer->WriteText(u"b", kLineEndCR);
        writer->WriteText(u"c", kLineEndLFCR);
        writer->WriteLine(u"d");
        writer->WriteText(u"e", kLineEndNone);
        writer->WriteLineEnd();
        writer->Detach();
    }
    EXPECT_EQ(a.DataString(), Bytes({0xFF, 0xFE}) + Utf16LE(u"a\nb\rc\n\rd\r\ne\r\n"));
    EXPECT_EQ(b.DataString(), Bytes({0xEF, 0xBB, 0xBF}) + "a\nb\rc\n\rd\r\ne\r\n");
}

TEST(Utf8Writer, CombinesPairsAndEncodesEachLength) {
    TStringStream s;
    TUTF8Writer w(s);
    w.WriteText(u"a\u00E9\u20AC\xD83D\xDE00\xDC00");
    w.Detach();
    EXPECT_EQ(s.DataString(), Bytes({0xEF, 0xBB, 0xBF, 'a', 0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF0,
                                     0x9F, 0x98, 0x80, 0xED, 0xB0, 0x80}));
}

TEST(Utf8Writer, LoneTrailingHighSurrogateIsEncodedByItself) {
    TStringStream s;
    TUTF8Writer w(s);
    w.WriteText(u"\xD800");
    w.Detach();
    EXPECT_EQ(s.DataString(), Bytes({0xEF, 0xBB, 0xBF, 0xED, 0xA0, 0x80}));
}

TEST(Utf8Writer, HighSurrogateBeforeANonLowUnitRaisesInvalidChar) {
    TStringStream s;
    TUTF8Writer w(s);
    EXPECT_THROW(w.WriteText(u"\xD800x"), EInvalidChar);
    EXPECT_THROW(w.WriteText(u"\xD800\xD800"), EInvalidChar);
}

TEST(TextWriter, LongTextsFlushThroughTheBuffer) {
    std::u16string text;
    for (int i = 0; i < 50000; ++i)
        text.push_back(i % 3 ? u'\u20AC' : u'\xD83D'), text.push_back(i % 3 ? u'q' : u'\xDE00');
    TStringStream a, b;
    {
        TUnicodeWriter w(a);
        w.WriteText(text);
        TUTF8Writer u(b);
        u.WriteText(text);
    }
    TStringStream ra(a.DataString()), rb(b.DataString());
    EXPECT_EQ(ReadAll(*OpenTextReader(ra)), text);
    EXPECT_EQ(ReadAll(*OpenTextReader(rb)), text);
}

// A stream that takes nothing.
class TFullStream : public TStringStream {
public:
    size_t Write(const void*, size_t) override { return 0; }
};

TEST(TextWriter, ShortWriteOnFlushRaises) {
    TFullStream s;
    TUTF8Writer w(s);
    w.WriteText(u"abc");
    EXPECT_THROW(w.Flush(), EStreamWriteError);
}

}  // namespace
}  // namespace ql
