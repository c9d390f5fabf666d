// The window's layout at 96 dpi: one row per control, in the order of the layout.
#pragma once

#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "reader/view.h"

namespace kelta {

inline constexpr int kClientWidth = 659;
inline constexpr int kClientHeight = 541;
inline constexpr char kLayoutCaption[] = "KELTA QM880-4R Reader Config";

// The kind of a control names its look (see main_window.cpp: MakeControl).
enum class Kind {
  Label,           // 13 px regular, right-aligned
  ValuePanel,      // highlight ground, yellow 16 px bold, border and raised bevel
  MessageLine,     // active-caption ground, white 16 px bold, border, gap, lowered bevel
  Footer,          // navy ground, white 11 px regular, border and raised bevel
  Button,          // push button in the window's font
  LanguageButton,  // push button, red 13 px regular text
  ScrollBar,       // horizontal
  List,            // drop-down list, choose only; highlight ground, yellow 16 px bold
  CheckBox,        // only the box shows
  GroupBox,
  Circle,     // lamp
  RoundRect,  // lamp
};

enum class Picture { None, StandardClose, Simplified, Traditional };

struct ScrollSetting {
  int min = 0;
  int max = 0;
  int small_step = 1;
  int large_step = 10;
  int position = 0;
};

inline constexpr std::optional<Ctl> kWindow = std::nullopt;
inline constexpr int kNoTab = -1;

struct ControlRow {
  Ctl name;
  Kind kind;
  std::optional<Ctl> parent;
  int left, top, width, height;
  int tab;  // place in the keyboard order within the parent; kNoTab for none
  std::string_view text;
  Picture picture = Picture::None;
  bool default_button = false;
  ScrollSetting scroll{};
  std::vector<std::string_view> entries{};
  int selected = -1;
};

// Every control of the window, layout order.
std::span<const ControlRow> LayoutTable();
const ControlRow& LayoutRow(Ctl ctl);

// The pixel sizes of the window's fonts.
inline constexpr int kWindowFontPx = 16;
inline constexpr int kLabelFontPx = 13;
inline constexpr int kFooterFontPx = 11;
inline constexpr int kListEntryHeight = 20;

}  // namespace kelta
