// Pen records: the current pen, the pairings of serial numbers with pen and
// BT-module ids, and the battery status.
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using namespace ptsa_test;

constexpr int kCurrentPen = 2, kPenSerial = 3, kPenId = 4, kBtSerial = 5, kBtId = 6, kBattery = 70;

class PenTest : public ClientTest {
protected:
    std::vector<Call> Feed(int id, const std::u16string& value) {
        std::vector<Call> calls = ClientTest::Feed(id, value);
        for (const Call& call : calls) EXPECT_EQ(call.slot, kOnPenInfo);
        return calls;
    }
};

TEST_F(PenTest, AnUnknownCurrentPenIsFiledSilentlyAndReportedWhenNamedAgain) {
    EXPECT_TRUE(Feed(kCurrentPen, u"QRE-1").empty());
    ASSERT_EQ(client->m_pens.count(u"QRE-1"), 1u);
    auto calls = Feed(kCurrentPen, u"QRE-1");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].pointer, &client->m_pens.at(u"QRE-1"));
    EXPECT_EQ(Text(calls[0].pen.serialNumber), u"QRE-1");
    EXPECT_EQ(Text(calls[0].pen.penId), u"");
    EXPECT_EQ(calls[0].pen.batteryStatus, 0);
}

TEST_F(PenTest, PairsAreFiledInEitherOrderAndReportedWithTheCurrentPen) {
    EXPECT_TRUE(Feed(kPenId, u"PEN-7").empty()) << "the id waits for its serial";
    EXPECT_EQ(client->m_penId, u"PEN-7");
    EXPECT_TRUE(client->m_pens.empty());
    Feed(kPenSerial, u"QRE-1");
    EXPECT_EQ(client->m_penSerial, u"") << "both strings are emptied once filed";
    EXPECT_EQ(client->m_penId, u"");
    Feed(kBtSerial, u"QRE-1");
    Feed(kBtId, u"BT-9");

    auto calls = Feed(kCurrentPen, u"QRE-1");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(Text(calls[0].pen.serialNumber), u"QRE-1");
    EXPECT_EQ(Text(calls[0].pen.penId), u"PEN-7");
    EXPECT_EQ(Text(calls[0].pen.btId), u"BT-9");
    EXPECT_EQ(client->m_pens.size(), 1u);
}

TEST_F(PenTest, ALaterPairingOverwritesTheIdOfARecordOnFile) {
    Feed(kPenSerial, u"S");
    Feed(kPenId, u"first");
    Feed(kPenId, u"second");
    EXPECT_EQ(client->m_penId, u"second") << "a lone id waits; a second one replaces it";
    Feed(kPenSerial, u"S");
    EXPECT_EQ(Text(client->m_pens.at(u"S").penId), u"second");
}

TEST_F(PenTest, AnEmptyHalfIsStoredAndPairsNothing) {
    Feed(kBtSerial, u"S");
    Feed(kBtSerial, u"");
    Feed(kBtId, u"BT");
    EXPECT_TRUE(client->m_pens.empty());
    EXPECT_EQ(client->m_btId, u"BT");
}

TEST_F(PenTest, OverLongSerialsAndIdsAreCutInTheRecordOnly) {
    const std::u16string serial = u"0123456789ABCDEFGHIJ", id = u"abcdefghijklmnopqrst";
    Feed(kPenSerial, serial);
    Feed(kPenId, id);
    auto calls = Feed(kCurrentPen, serial);
    EXPECT_EQ(client->m_currentPenSerial, serial);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(Text(calls[0].pen.serialNumber), serial.substr(0, 15));
    EXPECT_EQ(Text(calls[0].pen.penId), id.substr(0, 15));
    EXPECT_EQ(calls[0].pen.serialNumber[15], 0);
    EXPECT_EQ(calls[0].pen.penId[15], 0);
    EXPECT_EQ(calls[0].pen.btId[0], 0) << "nothing spills into the next field";
    EXPECT_TRUE(Feed(kCurrentPen, serial.substr(0, 15)).empty()) << "filed under the full serial";
}

TEST_F(PenTest, BatteryStatusIsIgnoredUntilAPenIsOnFile) {
    EXPECT_TRUE(Feed(kBattery, u"80").empty());
    EXPECT_TRUE(Feed(kBattery, u"x").empty());
    EXPECT_TRUE(client->m_pens.empty());
}

TEST_F(PenTest, OnceAPenIsOnFileEveryBatteryStatusIsReported) {
    Feed(kCurrentPen, u"QRE-1");
    for (const auto& [value, status] : {std::pair{u"80", 80}, std::pair{u"80", 80}, std::pair{u"", 80},
                                        std::pair{u"-1", -1}, std::pair{u"0", 0}}) {
        auto calls = Feed(kBattery, value);
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(Text(calls[0].pen.serialNumber), u"QRE-1");
        EXPECT_EQ(calls[0].pen.batteryStatus, status);
    }
}

TEST_F(PenTest, AnUnreadableBatteryStatusChangesNothingAndCallsNobody) {
    Feed(kCurrentPen, u"QRE-1");
    Feed(kBattery, u"55");
    for (const std::u16string bad : {u"full", u"2147483648", u"-"}) EXPECT_TRUE(Feed(kBattery, bad).empty());
    EXPECT_EQ(client->m_pens.at(u"QRE-1").batteryStatus, 55);
}

TEST_F(PenTest, ABatteryStatusWithoutACurrentPenGoesToAnEmptyRecord) {
    Feed(kPenSerial, u"S");
    Feed(kPenId, u"P");
    EXPECT_TRUE(Feed(kBattery, u"bad").empty());
    EXPECT_EQ(client->m_pens.size(), 1u) << "no record is filed for an unreadable status";
    auto calls = Feed(kBattery, u"42");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(Text(calls[0].pen.serialNumber), u"");
    EXPECT_EQ(Text(calls[0].pen.penId), u"");
    EXPECT_EQ(calls[0].pen.batteryStatus, 42);
    EXPECT_EQ(client->m_pens.size(), 2u);
    EXPECT_EQ(client->m_pens.at(u"").batteryStatus, 42);
}

}  // namespace
