// The six option lists: pair reading, accumulation, and the whole list
// reported with every value.
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using namespace ptsa_test;

constexpr int kRunApp = 75, kTopSingle = 76;

class OptionTest : public ClientTest {
protected:
    // The one report a value gives, as its list of records.
    std::vector<PevraNUV_ButtonFunction> Feed(int id, const std::u16string& value, int slot) {
        const std::vector<Call> calls = ClientTest::Feed(id, value);
        EXPECT_EQ(calls.size(), 1u);
        if (calls.size() != 1) return {};
        EXPECT_EQ(calls[0].slot, slot);
        EXPECT_NE(calls[0].pointer, nullptr);
        EXPECT_EQ(calls[0].records.size(), calls[0].number);
        return calls[0].records;
    }
    std::vector<std::int32_t> Codes(const std::u16string& value) {
        std::vector<std::int32_t> codes;
        for (const auto& record : Feed(kTopSingle, value, kOnTopButtonSingleOptions)) {
            EXPECT_EQ(record.text[0], 0);
            codes.push_back(record.function);
        }
        return codes;
    }
};

TEST_F(OptionTest, CodesAccumulateAndAreReportedAscending) {
    EXPECT_EQ(Codes(uR"([{"3":"x"},{"1":"y"}])"), (std::vector<std::int32_t>{1, 3}));
    EXPECT_EQ(Codes(uR"([{"2":"z"}])"), (std::vector<std::int32_t>{1, 2, 3}));
    EXPECT_EQ(Codes(u""), (std::vector<std::int32_t>{1, 2, 3})) << "nothing is ever removed";
}

TEST_F(OptionTest, RunAppOptionsAreKeyedByTheirText) {
    auto records = Feed(kRunApp, uR"([{"A":"B"},{"C":"B"}])", kOnRunAppOptions);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].function, 88);
    EXPECT_EQ(Text(records[0].text), u"B");
    EXPECT_EQ(client->m_runAppOptions.at(u"B"), u"C");

    records = Feed(kRunApp, uR"([{"1":"Paint"},{"2":"C:\\Apps\\calc.exe"}])", kOnRunAppOptions);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(Text(records[0].text), u"B");
    EXPECT_EQ(Text(records[1].text), uR"(C:\\Apps\\calc.exe)");
    EXPECT_EQ(Text(records[2].text), u"Paint");
}

TEST_F(OptionTest, AnOverLongRunAppTextIsCutInTheRecord) {
    const std::u16string path(700, u'p');
    auto records = Feed(kRunApp, u"[{\"x\":\"" + path + u"\"}]", kOnRunAppOptions);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(Text(records[0].text), path.substr(0, 511));
    EXPECT_EQ(client->m_runAppOptions.count(path), 1u) << "the list keeps the full text";
}

struct ListCase {
    int id;
    int slot;
};

class EveryListTest : public OptionTest, public ::testing::WithParamInterface<ListCase> {};

TEST_P(EveryListTest, EveryValueReportsTheWholeListEvenAnEmptyOne) {
    const auto [id, slot] = GetParam();
    EXPECT_TRUE(Feed(id, u"", slot).empty());
    EXPECT_EQ(Feed(id, uR"([{"5":"5"}])", slot).size(), 1u);
    EXPECT_EQ(Feed(id, uR"([{"5":"5"}])", slot).size(), 1u) << "reported again though nothing was added";
    EXPECT_EQ(Feed(id, u"garbage", slot).size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    SixLists, EveryListTest,
    ::testing::Values(ListCase{75, kOnRunAppOptions}, ListCase{76, kOnTopButtonSingleOptions},
                      ListCase{77, kOnTopButtonDoubleOptions}, ListCase{78, kOnTopButtonLongOptions},
                      ListCase{79, kOnSideSwitchOptions}, ListCase{80, kOnRadialWedgeOptions}));

struct PairCase {
    std::u16string value;
    std::vector<std::int32_t> codes;
};

class PairReadingTest : public OptionTest, public ::testing::WithParamInterface<PairCase> {};

TEST_P(PairReadingTest, ReadsThePairsOfAValue) { EXPECT_EQ(Codes(GetParam().value), GetParam().codes); }

INSTANTIATE_TEST_SUITE_P(
    Values, PairReadingTest,
    ::testing::Values(
        PairCase{uR"([{"1":"a"}])", {1}},
        PairCase{uR"({"1":"a"})", {}},                           // the first character never begins a pair
        PairCase{uR"({"1":"a"},{"2":"b"})", {2}},                //
        PairCase{uR"(x{"1":"a"}{"2":"b"},{"3":"c"})", {1, 3}},   // the unseparated pair is skipped
        PairCase{uR"([{"1":"a"},{"2":"b"},{"3")", {1, 2}},       // a malformed tail keeps the pairs before it
        PairCase{uR"([{"1":"a"},{"2":"b)", {1}},                 //
        PairCase{uR"([{"1":"a"},{"x":"b"},{"3":"c"}])", {1, 3}}, // a first string that does not read is skipped
        PairCase{uR"([{" 4":"a"},{"5abc":"b"},{"-2":"c"}])", {-2, 4, 5}},
        PairCase{uR"([{"2147483648":"a"},{"":"b"},{"7":""}])", {7}},
        PairCase{uR"([{"1":"a"},{"1":"b"}])", {1}},
        PairCase{uR"([{"1" : "a"},{"2":"b"}])", {1}},            // the first string runs to the next separator
        PairCase{u"", {}}));

}  // namespace
