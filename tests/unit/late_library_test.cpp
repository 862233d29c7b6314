// Libraries opened on first use: the outcome of the first load is kept, a
// failure's reason is answered again on later calls without another try,
// and a table typed from the library's declarations calls into it.
#include "platform/late_library.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

using kiv::platform::LateLibrary;

namespace {

TEST(LateLibrary, UnknownSonameFailsWithTheSameReasonEveryTime) {
    LateLibrary lib("libkiv-no-such-library.so.9", "testing needs it: ");
    int fills = 0;
    std::string why;
    EXPECT_FALSE(lib.load(why, [&](LateLibrary&) { ++fills; }));
    EXPECT_EQ(fills, 0);  // nothing to resolve from a library that did not open
    EXPECT_EQ(why.rfind("testing needs it: ", 0), 0u) << why;
    EXPECT_NE(why.find("libkiv-no-such-library.so.9"), std::string::npos) << why;
    EXPECT_FALSE(lib.ready());
    EXPECT_EQ(lib.failure(), why);

    std::string again;
    EXPECT_FALSE(lib.load(again, [&](LateLibrary&) { ++fills; }));
    EXPECT_EQ(again, why);
    EXPECT_EQ(fills, 0);
}

struct MathTable {
    decltype(&::cos) cos = nullptr;
    double (*missing)(double) = nullptr;
};

TEST(LateLibrary, MissingEntryPointFailsNamingIt) {
    LateLibrary lib("libm.so.6", "maths: ");
    MathTable t;
    int fills = 0;
    auto fill = [&](LateLibrary& l) {
        ++fills;
        l.entry("cos", t.cos);
        l.entry("kiv_no_such_function", t.missing);
        l.entry("kiv_another_missing_one", t.missing);
        EXPECT_FALSE(l.complete());
    };
    std::string why;
    EXPECT_FALSE(lib.load(why, fill));
    EXPECT_EQ(why, "maths: libm.so.6 lacks kiv_no_such_function");
    std::string again;
    EXPECT_FALSE(lib.load(again, fill));
    EXPECT_EQ(again, why);
    EXPECT_EQ(fills, 1);
}

TEST(LateLibrary, LoadedTableCallsIntoTheLibraryOnce) {
    LateLibrary lib("libm.so.6", "maths: ");
    MathTable t;
    int fills = 0;
    auto fill = [&](LateLibrary& l) {
        ++fills;
        l.entry("cos", t.cos);
        EXPECT_TRUE(l.complete());
    };
    std::string why = "untouched";
    ASSERT_TRUE(lib.load(why, fill));
    EXPECT_TRUE(lib.load(why, fill));
    EXPECT_EQ(fills, 1);
    EXPECT_EQ(why, "untouched");  // success leaves the reason alone
    EXPECT_TRUE(lib.ready());
    EXPECT_EQ(lib.failure(), "");
    EXPECT_EQ(t.cos(0.0), 1.0);
}

}  // namespace
