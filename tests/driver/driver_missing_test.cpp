// SPDX-License-Identifier: MIT
// No libRegwire.so anywhere on the search path: nothing crashes, Open is silent,
// Close, the read tick and Write each say once what is missing.
#include "window_fixture.h"

namespace bench::testing {
namespace {

TEST(LibraryDriver, ReportsTheLoadersReason) {
    LibraryDriver driver;
    int32_t buffer[81] = {};
    for (const DriverCall& call :
         {driver.OpenPort_Modbus(6, 3, 2), driver.ClosePort_Modbus(6),
          driver.Get_4X_DX(6, 1, 0, 1, buffer), driver.Set_4X_LDX(6, 1, 0, 1, buffer)}) {
        EXPECT_FALSE(call.reached);
        EXPECT_NE(call.failure.find("libRegwire.so"), std::string::npos) << call.failure;
    }
}

// What the loader says of libRegwire.so in this process's locale.
std::string loaderReason() {
    void* library = dlopen("libRegwire.so", RTLD_NOW);
    if (library != nullptr) dlclose(library);
    const char* reason = dlerror();
    return library == nullptr && reason != nullptr ? reason : "(the library was found)";
}

class MissingLibrary : public WindowTest, public ::testing::WithParamInterface<Variant> {
  protected:
    void SetUp() override { open(GetParam()); }
    QMessageBox* onlyMessage() {
        const auto boxes = window().findChildren<QMessageBox*>();
        return boxes.size() == 1 ? boxes.front() : nullptr;
    }
};

TEST_P(MissingLibrary, OpenIsSilentAndKeepsTheLastResult) {
    state().PortSettings[kLastOpenCloseResult] = 77;
    click(c().Command9);
    EXPECT_EQ(messageBoxes(), 0);
    EXPECT_EQ(state().PortSettings[kPort], 6);
    EXPECT_EQ(state().PortSettings[kLastOpenCloseResult], 77);
}

TEST_P(MissingLibrary, CloseReportsOnceAndLeavesReadingOn) {
    click(c().Command3);
    click(c().Command10);
    QMessageBox* box = onlyMessage();
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->text().contains(QStringLiteral("ClosePort_Modbus")));
    EXPECT_TRUE(box->text().contains(QStringLiteral("libRegwire.so")));
    // The loader's own reason, in the language of the user's locale.
    EXPECT_TRUE(box->informativeText().contains(QString::fromLocal8Bit(loaderReason())))
        << box->informativeText().toStdString();
    // The handler ends before it would switch the read timer off.
    EXPECT_TRUE(c().Timer1->isActive());
}

TEST_P(MissingLibrary, AReadTickReportsOnceAndStopsPolling) {
    click(c().Command3);
    window().readPanel().Timer1_Timer();
    EXPECT_FALSE(c().Timer1->isActive());
    ASSERT_EQ(messageBoxes(), 1);
    const char* function = GetParam() == Variant::Word16 ? "Get_4X_DX" : "Get_4X_LDX";
    EXPECT_TRUE(onlyMessage()->text().contains(QString::fromUtf8(function)));
    // The grid's value cells were not touched.
    EXPECT_EQ(c().MSFlexGrid1->text(1, 1), QString());
}

TEST_P(MissingLibrary, WriteReportsAndTheWindowKeepsWorking) {
    click(c().Command2);
    ASSERT_EQ(messageBoxes(), 1);
    onlyMessage()->accept();
    QTest::qWait(0);
    // Still alive: the write grid and the editor work as before.
    window().writePanel().Timer2_Timer();
    clickCell(c().MSFlexGrid2, 1, 1);
    QTest::keyClicks(c().Text5, QStringLiteral("12"));
    QTest::keyClick(c().Text5, Qt::Key_Return);
    EXPECT_EQ(state().WriteValues[0], 12);
}

INSTANTIATE_TEST_SUITE_P(Variants, MissingLibrary,
                         ::testing::Values(Variant::Word16, Variant::Long32), [](const auto& p) {
                             return p.param == Variant::Word16 ? "Word16" : "Long32";
                         });

}  // namespace
}  // namespace bench::testing
