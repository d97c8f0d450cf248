#include "views/sensor_list.h"

#include <gtest/gtest.h>

#include <memory>

#include "window/string_table.h"

namespace lumora {
namespace {

std::unique_ptr<FrameSlot> Frame(int count, int offset = 0) {
    auto f = std::make_unique<FrameSlot>();
    f->count = count;
    for (int k = 0; k < std::min(count, kMaxReadings); ++k) {
        f->readings[k].id = k + 1;
        f->readings[k].serial = 7008000 + k + 1;
        f->readings[k].channel = 1 + k / 10;
        f->readings[k].wavelength = 1530000 + 100 * k + offset;
        f->readings[k].physicValue = offset * 0.25;
    }
    return f;
}

TEST(SensorList, FirstFrameBuildsRowsAndBecomesTheReference) {
    SensorList list;
    auto f = Frame(12);
    SensorListRefresh r = list.Refresh(*f, false);
    EXPECT_TRUE(r.rebuilt);
    EXPECT_TRUE(r.takeReference);
    ASSERT_EQ(list.RowCount(), 12);
    for (int row = 0; row < 12; ++row) EXPECT_EQ(list.CellText(row, 4), "0");
    EXPECT_EQ(list.CellText(0, 0), "1");
    EXPECT_EQ(list.CellText(11, 1), "7008012");
    EXPECT_EQ(list.CellText(11, 2), "2");
    EXPECT_EQ(list.CellText(3, 3), "1530300");
    EXPECT_EQ(list.CellText(0, 5), "0");
    EXPECT_EQ(list.CellText(12, 0), "");  // beyond the rows
    EXPECT_EQ(list.CellText(0, 6), "");

    // The same layout: only the values move, against the layout frame.
    auto g = Frame(12, -37);
    r = list.Refresh(*g, false);
    EXPECT_FALSE(r.rebuilt);
    EXPECT_FALSE(r.takeReference);
    EXPECT_EQ(list.CellText(5, 3), "1530463");
    EXPECT_EQ(list.CellText(5, 4), "-37");
    EXPECT_EQ(list.CellText(5, 5), "-9.25");
    EXPECT_EQ(list.RebuildCount(), 1);
}

TEST(SensorList, AnyLayoutChangeRebuildsAndClearsChecksAndSelection) {
    SensorList list;
    list.Refresh(*Frame(8), false);
    list.SetChecked(2, true);
    list.SetSelected(5, true);
    list.SetSelected(1, true);
    EXPECT_EQ(list.ChosenRows(), (std::vector<int>{1, 2, 5}));

    // Same layout, 50 refreshes: checks and selection stay.
    for (int i = 0; i < 50; ++i) list.Refresh(*Frame(8, i), false);
    EXPECT_TRUE(list.IsChecked(2));
    EXPECT_TRUE(list.IsSelected(5));
    EXPECT_EQ(list.RebuildCount(), 1);

    struct Change {
        const char* what;
        void (*apply)(FrameSlot&);
    };
    const Change changes[] = {
        {"count", [](FrameSlot& f) { f.count = 7; }},
        {"id", [](FrameSlot& f) { f.readings[7].id = 99; }},
        {"serial", [](FrameSlot& f) { f.readings[0].serial = 9008001; }},
        {"channel", [](FrameSlot& f) { f.readings[3].channel = 32; }},
    };
    for (const Change& c : changes) {
        list.Refresh(*Frame(8), false);  // back to the plain layout
        list.SetChecked(0, true);
        list.SetSelected(1, true);
        auto f = Frame(8, 5);
        c.apply(*f);
        SensorListRefresh r = list.Refresh(*f, false);
        EXPECT_TRUE(r.rebuilt) << c.what;
        EXPECT_TRUE(r.takeReference) << c.what;
        EXPECT_TRUE(list.ChosenRows().empty()) << c.what;
        EXPECT_EQ(list.CellText(0, 4), "0") << c.what;  // the new layout frame is the base
    }
    // A changed wavelength or physical value is not a layout change.
    auto f = Frame(8, 1000);
    f->readings[2].physicValue = 1e9;
    list.Refresh(*Frame(8), false);
    EXPECT_FALSE(list.Refresh(*f, false).rebuilt);
    EXPECT_EQ(list.CellText(2, 5), "1e+09");
}

TEST(SensorList, ResetRequestTakesTheReferenceWithoutRebasingDelta) {
    SensorList list;
    list.Refresh(*Frame(4), false);
    SensorListRefresh r = list.Refresh(*Frame(4, 20), true);
    EXPECT_FALSE(r.rebuilt);
    EXPECT_TRUE(r.takeReference);
    r = list.Refresh(*Frame(4, 25), false);
    EXPECT_FALSE(r.takeReference);
    EXPECT_EQ(list.CellText(0, 4), "25");
}

TEST(SensorList, HostileCountsAndValuesStayInside) {
    SensorList list;
    // A slot never claims more than it holds, but the list must not trust it.
    auto f = Frame(kMaxReadings);
    f->count = 100000;
    list.Refresh(*f, false);
    EXPECT_EQ(list.RowCount(), kMaxReadings);
    f->count = -3;
    list.Refresh(*f, false);
    EXPECT_EQ(list.RowCount(), 0);
    // A frame of no readings at start-up builds nothing.
    SensorList fresh;
    EXPECT_FALSE(fresh.Refresh(*Frame(0), false).rebuilt);

    // Extreme wavelengths: the delta wraps like the 32-bit value it is, never traps.
    auto a = Frame(1);
    a->readings[0].wavelength = INT32_MIN;
    list.Refresh(*a, false);
    a->readings[0].wavelength = INT32_MAX;
    list.Refresh(*a, false);
    EXPECT_EQ(list.CellText(0, 4), "-1");
    char tiny[3];
    EXPECT_EQ(list.FormatCell(0, 3, tiny, sizeof tiny), 2);
    EXPECT_STREQ(tiny, "21");
    list.SetChecked(5, true);  // outside the rows: ignored
    EXPECT_FALSE(list.IsChecked(5));
}

TEST(SensorList, HeadersInBothLanguages) {
    EXPECT_EQ(SensorListHeader(0, 0), "ID");
    EXPECT_EQ(SensorListHeader(2, 0), "CH");
    EXPECT_EQ(SensorListHeader(5, 0), "PhysicValue");
    EXPECT_EQ(SensorListHeader(3, 1), "波长");
    EXPECT_EQ(SensorListHeader(4, 1), "波长差");
    EXPECT_TRUE(SensorListColumnRightAligned(5));
    EXPECT_FALSE(SensorListColumnRightAligned(0));
    EXPECT_EQ(SensorListColumnWidth(1), 200);
}

}  // namespace
}  // namespace lumora
