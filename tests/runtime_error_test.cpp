// A run-time error in the real program: StartRuntime with the program's own
// start data, exactly as main() calls it, and a box-text write that fails
// through the test seam while Command1_Click runs. The handler must be
// abandoned at that write, the error reported on standard error, and the run
// must end with a non-zero status. Under `make sanitize` LeakSanitizer checks
// at exit that nothing the handler held is left behind.
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <optional>

#include "capture_stderr.hpp"
#include "start_data.hpp"
#include "window_services.hpp"
#include "window_services_testing.hpp"

namespace mirtolk {
namespace {

// u""_s: the QString literal of Qt 6.4 and later (Qt 6.8 deprecates _qs).
using namespace Qt::StringLiterals;

// What one run does once the window is up, and what it saw.
struct Scenario {
  QString white, black, text3_before;
  int fault_status;
  int writes_first;
  bool box_fails;
  std::optional<QString> text3_after_click = {};
  bool handled_second_click = false;
};
Scenario* Current = nullptr;

QWidget* ShownWindow() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->objectName() == u"frmTovix" && w->isVisible()) return w;
  }
  return nullptr;
}

void TypeInto(QLineEdit* box, const QString& text) {
  box->setFocus();
  QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(box, Qt::Key_Delete);
  QTest::keyClicks(box, text);
}

// Runs inside the program's event loop, as a person at the window would.
void Drive() {
  Scenario& s = *Current;
  QWidget* window = ShownWindow();
  if (window == nullptr) return;  // the run then ends only by the timeout below
  auto* text1 = window->findChild<QLineEdit*>("Text1");
  auto* text2 = window->findChild<QLineEdit*>("Text2");
  auto* text3 = window->findChild<QLineEdit*>("Text3");
  auto* calc = window->findChild<QPushButton*>("Command1");
  TypeInto(text1, s.white);
  TypeInto(text2, s.black);
  TypeInto(text3, s.text3_before);

  rt::testing::SetTextWriteFault(s.fault_status, s.writes_first);
  rt::testing::SetMessageBoxFault(s.box_fails);
  QTest::mouseClick(calc, Qt::LeftButton);
  s.text3_after_click = text3->text();

  // The program is ending: a second click finds no handler, and Text3 keeps
  // what the first one left.
  text3->setText(u"untouched"_s);
  QTest::mouseClick(calc, Qt::LeftButton);
  s.handled_second_click = text3->text() != u"untouched";
}

// Called each time an application object is made, that is inside StartRuntime.
void OnApplicationMade() {
  if (Current == nullptr) return;
  QTimer::singleShot(0, qApp, &Drive);
  // Should the error not end the run, closing the window ends it with 0.
  QTimer::singleShot(10000, qApp, [] {
    if (QWidget* w = ShownWindow()) w->close();
  });
}

}  // namespace

class RuntimeErrorTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { qAddPreRoutine(&OnApplicationMade); }
  void cleanup() {
    rt::testing::SetTextWriteFault(rt::StatusOk);
    rt::testing::SetMessageBoxFault(false);
    Current = nullptr;
  }
  void failedWriteEndsTheProgram_data();
  void failedWriteEndsTheProgram();
};

void RuntimeErrorTest::failedWriteEndsTheProgram_data() {
  QTest::addColumn<int>("status");
  QTest::addColumn<int>("writesFirst");
  QTest::addColumn<bool>("boxFails");
  QTest::addColumn<QString>("text3After");
  QTest::addColumn<QString>("report");

  // Had the handler gone on after the failed "Error", the answer 7.279720
  // would stand in Text3: only that one write fails.
  QTest::newRow("the first write, of Error")
      << rt::StatusNotStored << 0 << false << "earlier"
      << "Run-time error 3: Text3 did not keep the text written into it";
  QTest::newRow("the answer's write")
      << rt::StatusOutOfMemory << 1 << false << "Error"
      << "Run-time error 1: Out of memory writing the text of Text3";
  // Memory exhausted: not even the message box can be built. The line and the
  // status must come all the same.
  QTest::newRow("out of memory, for the message box too")
      << rt::StatusOutOfMemory << 1 << true << "Error"
      << "Run-time error 1: Out of memory writing the text of Text3";
  QTest::newRow("the answer's write, another status")
      << -77 << 1 << false << "Error"
      << "Run-time error 4: Failed writing the text of Text3 (status -77)";
}

void RuntimeErrorTest::failedWriteEndsTheProgram() {
  QFETCH(int, status);
  QFETCH(int, writesFirst);
  QFETCH(bool, boxFails);
  QFETCH(QString, text3After);
  QFETCH(QString, report);

  Scenario scenario{u"10"_s, u"3"_s, u"earlier"_s, status, writesFirst, boxFails};
  Current = &scenario;
  mirtolk::testing::CaptureStderr err;
  const int exit_status = rt::StartRuntime(ProgramStart);

  QVERIFY2(scenario.text3_after_click.has_value(), "the window never came up");
  QCOMPARE(*scenario.text3_after_click, text3After);
  QVERIFY(!scenario.handled_second_click);
  QCOMPARE(QString::fromStdString(err.text()), report + '\n');
  QCOMPARE(exit_status, rt::ExitRuntimeError);
  if (boxFails) QVERIFY2(!rt::testing::SetMessageBoxFault(false), "no message box was attempted");
}

}  // namespace mirtolk

QTEST_APPLESS_MAIN(mirtolk::RuntimeErrorTest)
#include "runtime_error_test.moc"
