#include "ui/accessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QLabel>
#include <QWidget>
#include <array>

#include "catalogue/catalogue.h"

namespace kelta {
namespace {

using Texts = std::array<const char*, kLanguageCount>;

// A text of the catalogue, or the program's own where the catalogue has none.
struct Words {
  int message = -1;
  Texts own{};
};

QString Say(const Words& words, int language) {
  if (language < 0 || language >= kLanguageCount) language = 0;
  if (words.message >= 0) {
    return QString::fromStdString(Catalogue().Text(words.message, language));
  }
  return QString::fromUtf8(words.own[static_cast<std::size_t>(language)]);
}

// A language's button is named in that language, whatever the window's.
constexpr Texts Same(const char* text) { return {text, text, text}; }

Words NameOf(Ctl ctl) {
  switch (ctl) {
    case Ctl::btnEng:
      return {-1, Same("English")};
    case Ctl::btnGB:
      return {-1, Same("简体中文")};
    case Ctl::btnBIG5:
      return {-1, Same("繁體中文")};
    case Ctl::sbID:
      return {-1, {"Reader ID", "读卡机编号", "讀卡機編號"}};
    case Ctl::cmbBaudRate:
      return {5, {}};
    case Ctl::chkLock:
      return {-1, {"Lock BaudRate", "锁定通讯速度", "鎖定通訊速度"}};
    case Ctl::sbRSSI:
      return {-1, {"RSSI Level", "RSSI 等级", "RSSI 等級"}};
    // Its caption is the same in every language; its name is not.
    case Ctl::btnRSSI:
      return {-1, {"Set RSSI Level", "设定 RSSI 等级", "設定 RSSI 等級"}};
    case Ctl::cmbWiegand:
      return {-1, {"Wiegand Format", "Wiegand 格式", "Wiegand 格式"}};
    case Ctl::cmbRS485:
      return {-1, {"RS485 Format", "RS485 格式", "RS485 格式"}};
    case Ctl::shComm:
      return {-1, {"Communication Lamp", "通讯灯", "通訊燈"}};
    case Ctl::shCard:
      return {-1, {"TAG Lamp", "TAG 灯", "TAG 燈"}};
    default:
      return {};
  }
}

Words MeaningOf(LampMeaning meaning) {
  switch (meaning) {
    case LampMeaning::Ready:
      return {-1, {"Ready", "就绪", "就緒"}};
    case LampMeaning::Busy:
      return {-1, {"Busy", "忙碌", "忙碌"}};
    case LampMeaning::Ok:
      return {-1, {"Ok", "完成", "完成"}};
    case LampMeaning::Error:
      return {17, {}};
    case LampMeaning::TagHeard:
      return {-1, {"TAG heard", "读到 TAG", "讀到 TAG"}};
    case LampMeaning::NoTag:
      return {-1, {"No TAG", "没有 TAG", "沒有 TAG"}};
  }
  return {};
}

// The window without its controls out of sight (beyond the client area's edge): a screen
// reader would otherwise report them as showing.
class WindowAccessible final : public QAccessibleWidget {
 public:
  explicit WindowAccessible(QWidget* window) : QAccessibleWidget(window) {}
  int childCount() const override { return static_cast<int>(InSight().size()); }
  QAccessibleInterface* child(int index) const override {
    const QWidgetList shown = InSight();
    if (index < 0 || index >= shown.size()) return nullptr;
    return QAccessible::queryAccessibleInterface(shown.at(index));
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    if (child == nullptr) return -1;
    return static_cast<int>(InSight().indexOf(qobject_cast<QWidget*>(child->object())));
  }

 private:
  QWidgetList InSight() const {
    QWidgetList shown;
    for (QObject* o : widget()->children()) {
      auto* w = qobject_cast<QWidget*>(o);
      if (w != nullptr && !w->isWindow() && widget()->rect().contains(w->geometry())) {
        shown.append(w);
      }
    }
    return shown;
  }
};

// The message line as the window's status line, named by its text.
class StatusLineAccessible final : public QAccessibleWidget {
 public:
  explicit StatusLineAccessible(QWidget* line) : QAccessibleWidget(line, QAccessible::StatusBar) {}
  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Name) return static_cast<const QLabel*>(widget())->text();
    return QAccessibleWidget::text(t);
  }
};

QAccessibleInterface* Interface(const QString& key, QObject* object) {
  auto* widget = qobject_cast<QWidget*>(object);
  if (widget == nullptr) return nullptr;
  if (key == QLatin1String("kelta::TfrmModule")) return new WindowAccessible(widget);
  // Named and described by the window (accessibleName, accessibleDescription).
  if (key == QLatin1String("kelta::Lamp")) {
    return new QAccessibleWidget(widget, QAccessible::StatusBar);
  }
  if (key == QLatin1String("kelta::Panel") && object->objectName() == QLatin1String("pnMsg")) {
    return new StatusLineAccessible(widget);
  }
  return nullptr;
}

}  // namespace

void InstallAccessibleInterfaces() { QAccessible::installFactory(Interface); }

QString AccessibleName(Ctl ctl, int language) { return Say(NameOf(ctl), language); }

QString LampDescription(LampMeaning meaning, int language) {
  return Say(MeaningOf(meaning), language);
}

}  // namespace kelta
