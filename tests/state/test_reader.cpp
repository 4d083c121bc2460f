#include "state/reader.hpp"
#include "support/testing.hpp"

using namespace korvex;

TEST(RecordReader, PlaceholderBuilds) {
    RecordReader r("mem", "1 2\n");
    int a = 0, b = 0;
    r.read(a, b);
    EXPECT_EQ(a + b, 3);
}
