#include "cli/cli_view.h"

namespace kelta::cli {

void CliView::SetText(Ctl ctl, const std::string& text) {
  texts_[ctl] = text;
  if (ctl == Ctl::pnMsg && on_message) on_message(text);
}

std::string CliView::Text(Ctl ctl) const {
  const auto it = texts_.find(ctl);
  return it == texts_.end() ? std::string() : it->second;
}

int CliView::Position(Ctl ctl) const {
  const auto it = positions_.find(ctl);
  return it == positions_.end() ? 0 : it->second;
}

int CliView::Selection(Ctl ctl) const {
  const auto it = selections_.find(ctl);
  return it == selections_.end() ? -1 : it->second;
}

bool CliView::Checked(Ctl ctl) const {
  const auto it = checked_.find(ctl);
  return it != checked_.end() && it->second;
}

}  // namespace kelta::cli
