// SPDX-License-Identifier: MIT
// The one window of Wordbench (16-bit) and Longbench (32-bit). It builds its
// controls from the control table, connects each control's event to the handler
// of the same name, and owns the window-level state of the read and write tests.
#pragma once

#include <QWidget>
#include <cstdint>

#include "panels/connection.h"
#include "panels/entry_fields.h"
#include "panels/panel_context.h"
#include "panels/read_panel.h"
#include "panels/write_panel.h"

namespace bench {

class BenchWindow : public QWidget {
    Q_OBJECT
  public:
    BenchWindow(Variant variant, ProgramState& state, Driver& driver, QWidget* parent = nullptr);

    void Form_Load();
    void Form_Unload(int16_t& cancel);
    void Command1_Click();  // Exit

    Controls& controls() { return controls_; }
    ReadPanel& readPanel() { return readPanel_; }
    WritePanel& writePanel() { return writePanel_; }
    Connection& connection() { return connection_; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void connectHandlers();

    Controls controls_;
    PanelContext context_;
    Connection connection_;
    EntryFields entryFields_;
    ReadPanel readPanel_;
    WritePanel writePanel_;
};

}  // namespace bench
