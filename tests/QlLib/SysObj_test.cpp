#include "QlLib/SysObj.h"

#include <gtest/gtest.h>

namespace ql {
namespace {

class TCounted : public TRefObj {
public:
    explicit TCounted(int* destroyed) : m_destroyed(destroyed) {}
    ~TCounted() override { ++*m_destroyed; }

private:
    int* m_destroyed;
};

TEST(RefObj, LastReferenceFreesTheObject) {
    int destroyed = 0;
    {
        TRef<TCounted> a = MakeRef<TCounted>(&destroyed);
        EXPECT_EQ(a->RefCount(), 1);
        TRef<TCounted> b = a;
        EXPECT_EQ(a->RefCount(), 2);
        a.Reset();
        EXPECT_EQ(destroyed, 0);
        EXPECT_EQ(b->RefCount(), 1);
    }
    EXPECT_EQ(destroyed, 1);
}

TEST(RefObj, ClassNameIsTheUnqualifiedDynamicType) {
    int destroyed = 0;
    TRef<TRefObj> obj = MakeRef<TCounted>(&destroyed);
    EXPECT_EQ(obj->ClassName(), "TCounted");
}

}  // namespace
}  // namespace ql
