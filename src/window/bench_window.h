// The one window of Wordbench (16-bit) and Longbench (32-bit). It builds its
// controls from the control table, connects each control's event to the handler
// of the same name, and owns the window-level state of the read and write tests.
#pragma once

#include <QWidget>
#include <cstdint>

#include "connection/connection.h"
#include "connection/entry_fields.h"
#include "readtest/read_test.h"
#include "window/window_context.h"
#include "writetest/write_test.h"

namespace bench {

class BenchWindow : public QWidget {
    Q_OBJECT
  public:
    BenchWindow(Variant variant, ProgramState& state, Driver& driver, QWidget* parent = nullptr);

    void Form_Load();
    void Form_Unload(int16_t& cancel);
    void Command1_Click();  // Exit

    Controls& controls() { return controls_; }
    ReadTest& readTest() { return readTest_; }
    WriteTest& writeTest() { return writeTest_; }
    Connection& connection() { return connection_; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void connectHandlers();

    Controls controls_;
    WindowContext context_;
    Connection connection_;
    EntryFields entryFields_;
    ReadTest readTest_;
    WriteTest writeTest_;
};

}  // namespace bench
