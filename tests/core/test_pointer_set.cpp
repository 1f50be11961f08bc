// The journal's pointer set against the standard one, across several growths (while a
// growth is under way, entries live in two tables).
#include "../../core/src/pointer_set.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <unordered_set>

TEST(PointerSet, AgreesWithTheStandardSetThroughEveryGrowth)
{
    treelark::detail::PointerSet<int> set;
    std::unordered_set<int*> reference;
    std::uint64_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        // 8-byte steps over a range small enough to repeat often
        return reinterpret_cast<int*>(std::uintptr_t(0x10000 + ((seed >> 33) % 300000) * 8));
    };
    for (int i = 0; i < 400000; ++i) {
        int* p = next();
        if (i % 3 == 2) // a third of the steps take one out (present or not)
            ASSERT_EQ(set.erase(p), reference.erase(p) == 1) << i;
        else
            ASSERT_EQ(set.insert(p), reference.insert(p).second) << i;
        if (i % 97 == 0) {
            int* q = next();
            ASSERT_EQ(set.contains(q), reference.count(q) == 1) << i;
        }
    }
    EXPECT_EQ(set.size(), reference.size());
    std::unordered_set<int*> listed;
    set.forEach([&](int* p) { EXPECT_TRUE(listed.insert(p).second); });
    EXPECT_EQ(listed, reference);
    EXPECT_FALSE(set.insert(nullptr));
    EXPECT_FALSE(set.contains(nullptr));
    set.clear();
    EXPECT_EQ(set.size(), 0u);
    EXPECT_FALSE(set.contains(*reference.begin()));
}
