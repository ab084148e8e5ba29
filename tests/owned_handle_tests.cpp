// The handle owner closes each handle exactly once, whatever moves it.
#include <doctest/doctest.h>

#include <vector>

#include "core/owned_handle.h"

namespace {

std::vector<int> gClosed;
void closeFake(int* h) { gClosed.push_back(*h); }
using FakeHandle = Owned<NullableTraits<int*, closeFake>>;

}  // namespace

TEST_CASE("a handle passed from owner to owner is closed once, by the last") {
    gClosed.clear();
    int a = 1, b = 2;
    {
        FakeHandle first(&a);
        FakeHandle second(std::move(first));
        CHECK_FALSE(first);
        FakeHandle third;
        third = std::move(second);
        third = std::move(third);  // self-move keeps it
        CHECK(third.get() == &a);
        third.reset(&b);  // closes a, takes b
        CHECK(gClosed == std::vector<int>{1});
        FakeHandle kept(third.release());
        CHECK(gClosed == std::vector<int>{1});
    }
    CHECK(gClosed == std::vector<int>{1, 2});
}
