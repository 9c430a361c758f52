// Opening the show a benchmark program plays, with the show model over it.
#pragma once

#include <cstdio>
#include <memory>

#include "OrbLib2/OrbClasses/qlOrbSource2.h"
#include "OrbLib2/OrbPackage/qlOrbShowLocator.h"
#include "QlLib/qpStringUtils.h"

namespace orb::bench {

struct TBenchShow {
    std::unique_ptr<TOrbShowLocator> Locator;
    std::unique_ptr<TOrbSource> Source;
};

// Locator is empty when the show does not open; the reason went to standard error.
inline TBenchShow OpenBenchShow(const char* fileName) {
    TShowOpenResult opened = OpenShow(ql::FromUtf8(fileName));
    TBenchShow show;
    if (!opened.Locator) {
        std::fprintf(stderr, "%s: %s\n", fileName, ql::ToUtf8(opened.Error).c_str());
        return show;
    }
    ql::TRef<ql::TRefObj> fileSource(&opened.Locator->Accessor().Source());
    show.Source = std::make_unique<TOrbSource>(fileSource, opened.Locator->Project(), u"");
    show.Locator = std::move(opened.Locator);
    return show;
}

}  // namespace orb::bench
