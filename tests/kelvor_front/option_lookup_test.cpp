// The parser's results as the main sequence looks them up: which value an
// option ends up with for each way of giving it, and what an empty command
// line leaves behind. The parser's messages are checked on the built program
// (command_line_test.cpp).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kelvor/front/options.h"

namespace {

// A writable argument vector, as the parser cuts its strings in place.
class Arguments {
  public:
    explicit Arguments(std::vector<std::string> arguments) : storage_(std::move(arguments)) {
        storage_.insert(storage_.begin(), "kelvor");
        for (std::string& s : storage_) {
            cells_.push_back(s.data());
        }
        cells_.push_back(nullptr);
    }
    int count() const { return static_cast<int>(storage_.size()); }
    char** cells() { return cells_.data(); }

  private:
    std::vector<std::string> storage_;
    std::vector<char*> cells_;
};

struct LookupCase {
    std::vector<std::string> arguments;
    const char* option;
    const char* value;  // null: GetOptionValues reports the option as absent
};

void PrintTo(const LookupCase& c, std::ostream* os) {
    for (const std::string& a : c.arguments) {
        *os << a << ' ';
    }
    *os << "-> " << c.option;
}

class OptionLookup : public testing::TestWithParam<LookupCase> {};

TEST_P(OptionLookup, FindsTheValueInForce) {
    const LookupCase& c = GetParam();
    Arguments arguments(c.arguments);
    ASSERT_EQ(ParseCommandLine(arguments.count(), arguments.cells()), kParseOk);
    const char* value = nullptr;
    int found = GetOptionValues(c.option, 1, &value);
    if (c.value == nullptr) {
        EXPECT_EQ(found, 0);
    } else {
        ASSERT_EQ(found, 1);
        ASSERT_NE(value, nullptr);
        EXPECT_STREQ(value, c.value);
    }
    EXPECT_EQ(IsOptionPresent(c.option), c.value != nullptr ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(ValueForms, OptionLookup,
                         testing::Values(LookupCase{{"/address:0x10000"}, "address", "0x10000"},
                                         LookupCase{{"/address", "0x10000"}, "address", "0x10000"},
                                         LookupCase{{"/address:", "0x10000"}, "address", "0x10000"},
                                         LookupCase{{"/length:-1"}, "length", "-1"},
                                         LookupCase{{"/F:x.bin"}, "f", "x.bin"},
                                         LookupCase{{"-F:x.bin"}, "F", "x.bin"},
                                         LookupCase{{"/d:C:\\dump-1.bin"}, "d", "C:\\dump-1.bin"},
                                         LookupCase{{"/f:a.bin", "/f:b.bin"}, "f", "a.bin"},
                                         LookupCase{{"/p-x.txt", "y.txt"}, "p", "y.txt"},
                                         LookupCase{{"/p+", "y.txt"}, "p", "y.txt"},
                                         LookupCase{{"/f:a.bin"}, "v", nullptr},
                                         LookupCase{{"/f:a.bin"}, "file", nullptr}));

TEST(OptionLookup, OptionWithoutValuesIsPresentAndLeavesTheOutputAlone) {
    Arguments arguments({"+BIOS", "/q-"});
    ASSERT_EQ(ParseCommandLine(arguments.count(), arguments.cells()), kParseOk);
    const char* value = "untouched";
    EXPECT_EQ(GetOptionValues("bios", 1, &value), 1);
    EXPECT_STREQ(value, "untouched");
    EXPECT_EQ(IsOptionPresent("Q"), 1);
    EXPECT_EQ(IsOptionPresent("me"), 0);
}

// An empty command line counts every option as absent, also after an earlier
// parse in the same process.
TEST(OptionLookup, EmptyCommandLineLeavesNothingPresent) {
    Arguments first({"/?", "/f:a.bin"});
    ASSERT_EQ(ParseCommandLine(first.count(), first.cells()), kParseOk);
    Arguments none({});
    EXPECT_EQ(ParseCommandLine(none.count(), none.cells()), kParseNoArguments);
    const char* value = nullptr;
    EXPECT_EQ(IsOptionPresent("?"), 0);
    EXPECT_EQ(GetOptionValues("f", 1, &value), 0);
    EXPECT_EQ(FindOption("f"), -1);
}

TEST(OptionLookup, NamesMatchWholeAndWithoutCase) {
    Arguments arguments({"/b"});
    ASSERT_EQ(ParseCommandLine(arguments.count(), arguments.cells()), kParseOk);
    EXPECT_EQ(FindOption("BIOS"), 10);
    EXPECT_EQ(FindOption("Address"), 7);
    EXPECT_EQ(FindOption("addr"), -1);
    EXPECT_EQ(FindOption("addresses"), -1);
    EXPECT_EQ(FindOption(""), -1);
}

}  // namespace
