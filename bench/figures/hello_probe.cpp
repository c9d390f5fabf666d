// The floor of the start-up figures: the textbook toolkit hello-world, a window of the
// program's client size with a label and a button in a layout, shown and painted once.
// Links the toolkit alone, as such a program would.
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>

#include "bench/figures/first_paint.h"

// The program's client size (ui/layout.h), repeated so that this links nothing of ours.
constexpr int kClientWidth = 659;
constexpr int kClientHeight = 541;

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QWidget window;
  window.setFixedSize(kClientWidth, kClientHeight);
  auto* layout = new QVBoxLayout(&window);
  layout->addWidget(new QLabel(QStringLiteral("Hello, world")));
  auto* exit = new QPushButton(QStringLiteral("Exit"));
  layout->addWidget(exit);
  QObject::connect(exit, &QPushButton::clicked, &app, &QApplication::quit);
  kelta::bench::FirstPaint first_paint(&window);
  window.show();
  first_paint.Wait();
  kelta::bench::ReportAndEnd();
}
