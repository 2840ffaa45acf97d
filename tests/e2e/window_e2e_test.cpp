// SPDX-License-Identifier: MIT
// Both windows with the real libRegwire.so, found by name, against benchslave on a
// pseudo-terminal: what the operator types is written to the slave, read back by
// the read test, and seen by mbpoll; what mbpoll writes, the read test shows.
#include <cerrno>
#include <cstring>

#include "mbpoll.h"
#include "slave_process.h"
#include "window_fixture.h"

namespace bench::testing {
namespace {

using support::SlaveProcess;

constexpr int kDefaultPort = 6;

class EndToEnd : public WindowTest, public ::testing::WithParamInterface<Variant> {
  protected:
    void SetUp() override {
        slave_ = std::make_unique<SlaveProcess>(std::vector<std::string>{}, kDefaultPort);
        ASSERT_TRUE(slave_->started()) << slave_->error();
        open(GetParam());
    }
    void TearDown() override {
        WindowTest::TearDown();
        slave_.reset();
    }
    bool wide() const { return GetParam() == Variant::Long32; }
    int step() const { return wide() ? 2 : 1; }

    // Types each value into the write grid's editor and commits it with Enter.
    void enterValues(const std::vector<int32_t>& values) {
        c().Text4->setText(QString::number(values.size()));
        window().writePanel().Timer2_Timer();
        for (std::size_t i = 0; i < values.size(); ++i) {
            clickCell(c().MSFlexGrid2, static_cast<int>(i) + 1, 1);
            QTest::keyClicks(c().Text5, QString::number(values[i]));
            QTest::keyClick(c().Text5, Qt::Key_Return);
        }
        window().writePanel().Timer2_Timer();
    }

    void startReading(int count, int start) {
        c().Text1->setText(QString::number(count));
        c().Text2->setText(QString::number(start));
        click(c().Command3);
        window().readPanel().Timer1_Timer();
    }

    std::vector<int32_t> valueColumn(int count) {
        std::vector<int32_t> shown;
        for (int row = 1; row <= count; ++row)
            shown.push_back(c().MSFlexGrid1->text(row, 1).toInt());
        return shown;
    }

    std::unique_ptr<SlaveProcess> slave_;
};

TEST_P(EndToEnd, TypedValuesAreWrittenReadBackAndSeenByAnotherMaster) {
    const std::vector<int32_t> values =
        wide() ? std::vector<int32_t>{-70000, 123456789, -1, 2147483647, -2147483647 - 1}
               : std::vector<int32_t>{5, -7, 0, 32767, -32768};
    const int count = static_cast<int>(values.size());
    click(c().Command9);  // port 6, 38400 baud, even parity
    c().Text3->setText(QStringLiteral("100"));
    enterValues(values);
    click(c().Command2);
    EXPECT_EQ(slave_->counter("fc16"), 1);

    startReading(count, 100);
    EXPECT_EQ(valueColumn(count), values);
    EXPECT_EQ(c().MSFlexGrid1->text(count, 2).toInt(), 100 + (count - 1) * step());
    EXPECT_EQ(messageBoxes(), 0);

    click(c().Command10);  // lets go of the line
    const MbpollResult peer = mbpollRead(slave_->address(), 100, count, wide());
    ASSERT_TRUE(peer.ok) << peer.output;
    for (int i = 0; i < count; ++i) {
        const int address = 100 + i * step();
        ASSERT_TRUE(peer.values.count(address)) << peer.output;
        EXPECT_EQ(peer.values.at(address), values[static_cast<std::size_t>(i)]) << address;
    }
}

TEST_P(EndToEnd, TheReadGridShowsWhatAnotherMasterWrote) {
    const std::vector<int64_t> written =
        wide() ? std::vector<int64_t>{-2, 65536, -70000} : std::vector<int64_t>{65535, 1, 32768};
    const std::vector<int32_t> shown =
        wide() ? std::vector<int32_t>{-2, 65536, -70000} : std::vector<int32_t>{-1, 1, -32768};
    const MbpollResult peer = mbpollWrite(slave_->address(), 300, written, wide());
    ASSERT_TRUE(peer.ok) << peer.output;
    click(c().Command9);
    startReading(3, 300);
    EXPECT_EQ(valueColumn(3), shown);
    // A second tick reads the same block again, one request each time.
    const long before = slave_->counter("fc03");
    window().readPanel().Timer1_Timer();
    EXPECT_EQ(slave_->counter("fc03"), before + 1);
    EXPECT_EQ(valueColumn(3), shown);
}

TEST_P(EndToEnd, AFailedReadLeavesTheLastValuesAndNoMessage) {
    click(c().Command9);
    c().Text3->setText(QStringLiteral("10"));
    enterValues({42});
    click(c().Command2);
    startReading(1, 10);
    ASSERT_EQ(valueColumn(1), std::vector<int32_t>{42});
    slave_->kill_now();
    window().readPanel().Timer1_Timer();
    EXPECT_EQ(valueColumn(1), std::vector<int32_t>{42});
    EXPECT_EQ(messageBoxes(), 0);
    EXPECT_TRUE(c().Timer1->isActive());
    // The value looks stale, and its tooltip names the device.
    EXPECT_EQ(c().MSFlexGrid1->cellInk(1, 1), QColor(128, 128, 128));
    const QString tip = c().MSFlexGrid1->cellToolTip(1, 1);
    EXPECT_TRUE(tip.contains(QString::fromStdString(slave_->address()))) << tip.toStdString();
}

// Each failed command shows one notice naming the port, its device and the reason.
TEST_P(EndToEnd, FailedCommandsSayWhatFailed) {
    const std::string missing = "/nonexistent/bench-device";
    setenv("REGWIRE_PORT7", missing.c_str(), 1);
    SlaveProcess silent({"--no-reply-every", "1"}, 8);
    ASSERT_TRUE(silent.started()) << silent.error();
    struct Case {
        const char* port;
        int32_t value;
        QPushButton* button;
        std::string sentence;
        std::string device;
        std::string reason;  // the library's words
    };
    std::vector<Case> cases = {
        {"7 ", 0, c().Command9, "打开端口 7 失败：无法打开端口的设备。", missing,
         std::strerror(ENOENT)},
        {"8 ", 0, c().Command2, "写入端口 8 失败：站号 1 的从站没有按时应答。", silent.address(),
         "no reply within"},
    };
    if (!wide()) {
        cases.push_back({"6 ", 70000, c().Command2,
                         "写入端口 6 失败：第 1 行的值 70000 超出 -32768..65535，未写入任何值。",
                         "port 6", "value 70000"});
    }
    window().writePanel().Timer2_Timer();
    for (const Case& f : cases) {
        c().Combo1->setEditText(QString::fromUtf8(f.port));
        click(c().Command9);
        state().WriteValues[0] = f.value;
        if (f.button != c().Command9) click(f.button);
        const auto boxes = window().findChildren<QMessageBox*>();
        ASSERT_EQ(boxes.size(), 1) << f.sentence;
        EXPECT_EQ(boxes.front()->text().toStdString(), f.sentence);
        const std::string detail = boxes.front()->informativeText().toStdString();
        EXPECT_NE(detail.find(f.device), std::string::npos) << detail;
        EXPECT_NE(detail.find(f.reason), std::string::npos) << detail;
        delete boxes.front();
    }
    unsetenv("REGWIRE_PORT7");
}

INSTANTIATE_TEST_SUITE_P(Variants, EndToEnd, ::testing::Values(Variant::Word16, Variant::Long32),
                         [](const auto& p) {
                             return p.param == Variant::Word16 ? "Word16" : "Long32";
                         });

}  // namespace
}  // namespace bench::testing
