// Loads arbitrary bytes as a settings document, looks things up, and checks that
// saving is idempotent: a saved document reloads and saves to the same bytes,
// since every kept line reads back as the same kind of item in the same place.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "QlLib/qlIniStorage.h"
#include "QlLib/qlTextReader.h"
#include "QlLib/qpStringUtils.h"

namespace {

using namespace ql;

bool Keyword(std::u16string_view word) { return word == u"inherited" || word == u"inline"; }

std::string Save(const TIniStorage& doc, bool& ok) {
    TStringStream out;
    ok = doc.SaveToStream(out);
    return out.DataString();
}

// Every key must be found by its own name, and typed reads must not raise.
void Walk(const TIniIdentList& list, int depth) {
    if (depth > TIniFile::kMaxObjectDepth + 1) __builtin_trap();
    int keys = 0;
    for (const TCommonIniItem* item = list.First(); item; item = item->Next()) {
        const auto* ident = dynamic_cast<const TIniIdent*>(item);
        if (!ident || ++keys > 64) continue;
        const TIniIdent* found = list.FindIdent(ident->Name());
        if (!found || found->LowerName() != ident->LowerName()) __builtin_trap();
        (void)list.ReadInteger(ident->Name(), 0);
        (void)list.ReadReal(ident->Name(), 0);
        (void)list.ReadBool(ident->Name(), false);
    }
    for (const TIniObject* object = list.FirstObject(); object;
         object = TIniIdentList::NextObject(*object)) {
        (void)object->Name();
        (void)object->ObjectClass();
        Walk(*object, depth + 1);
    }
}

TIniFile* NewDocument() {
    auto* doc = new TIniFile;
    doc->SetKeywordHook(Keyword);
    return doc;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::unique_ptr<TIniFile> doc(NewDocument());
    try {
        TStringStream in(bytes);
        if (!doc->LoadFromStream(in)) __builtin_trap();  // no hook stops this parse
    } catch (const Exception&) {
        return 0;  // mis-encoded text
    }

    Walk(*doc, 0);
    for (const auto& name : doc->SectionNames()) {
        const TIniSection* section = doc->FindSection(name);
        if (!section || section->LowerName() != LowerCase(name)) __builtin_trap();
        Walk(*section, 0);
        (void)doc->ReadString(name, u"Name", u"");
        (void)doc->ReadBool(name, u"Visible", true);
    }

    bool ok = false;
    const std::string first = Save(*doc, ok);
    if (!ok) return 0;  // an unpaired high surrogate cannot be written as UTF-8

    // A copy writes the same lines.
    {
        TIniFile copy;
        copy.Assign(*doc);
        bool copyOk = false;
        if (Save(copy, copyOk) != first || !copyOk) __builtin_trap();
        // Edits only need to stay safe.
        copy.WriteString(u"Main", u"Added", u"1");
        if (TIniSection* section = copy.FindSection(u"Main")) {
            section->WriteInteger(u"Other", 2);
            if (TIniObject* object = section->FirstObject()) {
                object->WriteString(u"Inner", u"x");
                object->SetObjectClass(u"TChanged");
                object->Rename(u"renamed");
            }
            section->Rename(u"Renamed");
        }
        if (copy.First()) copy.First()->Free();
        (void)Save(copy, copyOk);
    }

    std::unique_ptr<TIniFile> again(NewDocument());
    try {
        TStringStream in(first);
        if (!again->LoadFromStream(in)) __builtin_trap();
    } catch (const Exception&) {
        __builtin_trap();  // what was saved must read back
    }
    const std::string second = Save(*again, ok);
    if (!ok || second != first) __builtin_trap();
    return 0;
}
