// Reading what the code under test wrote to the log.
#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "QlLib/qlLog.h"

namespace ql::test {

// A log that keeps its lines.
class TLinesLog : public TLog {
public:
    std::vector<std::u16string> Lines;

    // Whether a line holds the text.
    bool Has(std::u16string_view text) const {
        return std::any_of(Lines.begin(), Lines.end(), [&](const std::u16string& line) {
            return line.find(text) != std::u16string::npos;
        });
    }

protected:
    void Output(std::u16string_view line) override { Lines.emplace_back(line); }
};

// The process-wide log is a TLinesLog while this lives; the discarding log
// comes back after, whatever the test did.
class TCapturedLog {
public:
    TCapturedLog() {
        auto owned = std::make_unique<TLinesLog>();
        m_log = owned.get();
        SetGlobalLog(std::move(owned));
    }
    ~TCapturedLog() { SetGlobalLog(nullptr); }
    TCapturedLog(const TCapturedLog&) = delete;
    TCapturedLog& operator=(const TCapturedLog&) = delete;

    std::vector<std::u16string>& Lines() { return m_log->Lines; }
    bool Has(std::u16string_view text) const { return m_log->Has(text); }

private:
    TLinesLog* m_log;
};

}  // namespace ql::test
