// The command line as a view of the reader operations: it keeps the window's controls as
// values. The arguments go into the controls the operation reads (the ID display, the
// lists, the scroll bars); the texts the operation writes are kept for the report, and the
// message line is passed on as it changes. Lamps, busy state, cursor and timers show
// nothing here.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "reader/view.h"

namespace kelta::cli {

class CliView final : public ReaderView {
 public:
  void SetText(Ctl ctl, const std::string& text) override;
  std::string Text(Ctl ctl) const override;
  int Position(Ctl ctl) const override;
  void SetPosition(Ctl ctl, int position) override { positions_[ctl] = position; }
  int Selection(Ctl ctl) const override;
  void SetSelection(Ctl ctl, int index) override { selections_[ctl] = index; }
  bool Checked(Ctl ctl) const override;
  void SetFill(Ctl, Fill) override {}
  void SetEnabled(Ctl, bool) override {}
  void SetWindowEnabled(bool) override {}
  void SetBusy(bool) override {}
  void SetHourglass(bool) override {}
  void StartCardTimer() override {}
  void StopCardTimer() override {}

  void SetChecked(Ctl ctl, bool checked) { checked_[ctl] = checked; }
  // Called with each new text of the message line.
  std::function<void(const std::string&)> on_message;

 private:
  std::map<Ctl, std::string> texts_;
  std::map<Ctl, int> positions_;
  std::map<Ctl, int> selections_;
  std::map<Ctl, bool> checked_;
};

}  // namespace kelta::cli
