#include "messagewindow.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <gtest/gtest.h>

namespace {

using saalwacht::helpers::MessageWindow;
using saalwacht::helpers::messageFromArguments;

const QString kTitle = QStringLiteral("Nachricht vom Lehrer");

QString withUnixLineBreaks(QString text) {
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return text;
}

QString longText() {
  // About 64 KiB with paragraphs, a very long unbroken word and umlauts.
  QString text;
  for (int i = 0; text.toUtf8().size() < 60 * 1024; ++i)
    text += QStringLiteral("Absatz %1: Bitte öffnet das Arbeitsblatt und löst Aufgabe „%1“.\r\n")
                .arg(i);
  text += QString(3000, QLatin1Char('x'));
  return text;
}

struct TextCase {
  const char* name;
  QString text;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const TextCase& c, std::ostream* os) { *os << c.name; }

class MessageWindowText : public ::testing::TestWithParam<TextCase> {};

TEST_P(MessageWindowText, ShowsExactlyTheGivenText) {
  const QString text = GetParam().text;
  MessageWindow window(kTitle, text);
  window.show();
  QApplication::processEvents();
  EXPECT_EQ(window.shownText().toStdString(), withUnixLineBreaks(text).toStdString());
}

INSTANTIATE_TEST_SUITE_P(
    Texts, MessageWindowText,
    ::testing::Values(
        TextCase{"Plain", QStringLiteral("Bitte jetzt Pause machen.")},
        TextCase{"Empty", QString()},
        TextCase{"CrLf", QStringLiteral("Zeile 1\r\nZeile 2\r\n\r\nZeile 4")},
        TextCase{"Lf", QStringLiteral("Zeile 1\nZeile 2\n")},
        TextCase{"QuotesAndUmlauts",
                 QStringLiteral("Lest \"Faust\" – Seite 12! Äpfel, Öl, Übung, Straße: 5 €")},
        TextCase{"MarkupIsNotInterpreted",
                 QStringLiteral("<b>nicht fett</b> &amp; <a href=\"x\">kein Link</a>")},
        TextCase{"LooksLikeAQtOption", QStringLiteral("-reverse")},
        TextCase{"SurroundingBlankLinesAndSpaces", QStringLiteral("\n\n  eingerückt\t\n\n")},
        TextCase{"Emoji", QStringLiteral("Gut gemacht 👍")},
        TextCase{"Long", longText()}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MessageWindow, LoneCarriageReturnBreaksTheLine) {
  MessageWindow window(kTitle, QStringLiteral("eins\rzwei"));
  EXPECT_EQ(window.shownText(), QStringLiteral("eins\nzwei"));
}

TEST(MessageWindow, IsTitledInGermanAndStaysOnTop) {
  MessageWindow window(kTitle, QStringLiteral("x"));
  EXPECT_EQ(window.windowTitle(), kTitle);
  EXPECT_TRUE(window.windowFlags() & Qt::WindowStaysOnTopHint);
}

TEST(MessageWindow, TextIsReadOnlySelectableAndWrapped) {
  MessageWindow window(kTitle, QStringLiteral("x"));
  QPlainTextEdit* view = window.textView();
  EXPECT_TRUE(view->isReadOnly());
  EXPECT_TRUE(view->textInteractionFlags() & Qt::TextSelectableByMouse);
  EXPECT_EQ(view->lineWrapMode(), QPlainTextEdit::WidgetWidth);
}

TEST(MessageWindow, LongTextScrollsInsteadOfGrowingTheWindow) {
  MessageWindow window(kTitle, longText());
  window.show();
  QApplication::processEvents();
  EXPECT_GT(window.textView()->verticalScrollBar()->maximum(), 0);
  EXPECT_EQ(window.textView()->horizontalScrollBar()->maximum(), 0)
      << "long lines must wrap rather than scroll sideways";
  EXPECT_LE(window.height(), 1000);
}

TEST(MessageWindow, OkClosesTheWindow) {
  MessageWindow window(kTitle, QStringLiteral("Tschüss"));
  int finishedWith = -1;
  QObject::connect(&window, &QDialog::finished, [&](int result) { finishedWith = result; });
  window.show();
  QApplication::processEvents();
  ASSERT_TRUE(window.isVisible());
  ASSERT_NE(window.okButton(), nullptr);
  EXPECT_EQ(window.okButton()->text(), QStringLiteral("OK"));

  window.okButton()->click();
  QApplication::processEvents();
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(finishedWith, QDialog::Accepted);
}

TEST(MessageWindow, ReturnKeyPressesOk) {
  MessageWindow window(kTitle, QStringLiteral("Tschüss"));
  window.show();
  QApplication::processEvents();
  QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(&window, &press);
  QApplication::processEvents();
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(window.result(), QDialog::Accepted);
}

struct ArgumentCase {
  const char* name;
  std::vector<const char*> argv;
  std::optional<QString> expected;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const ArgumentCase& c, std::ostream* os) { *os << c.name; }

class MessageArguments : public ::testing::TestWithParam<ArgumentCase> {};

TEST_P(MessageArguments, TakesExactlyOneArgumentAsUtf8) {
  const auto& param = GetParam();
  const auto result =
      messageFromArguments(static_cast<int>(param.argv.size()), param.argv.data());
  ASSERT_EQ(result.has_value(), param.expected.has_value());
  if (result) {
    EXPECT_EQ(*result, *param.expected);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, MessageArguments,
    ::testing::Values(
        ArgumentCase{"Missing", {"swmsg"}, std::nullopt},
        ArgumentCase{"TooMany", {"swmsg", "a", "b"}, std::nullopt},
        ArgumentCase{"One", {"swmsg", "Hallo"}, QStringLiteral("Hallo")},
        ArgumentCase{"EmptyText", {"swmsg", ""}, QString()},
        ArgumentCase{"Utf8", {"swmsg", "Gr\xC3\xBC\xC3\x9F" "e"}, QStringLiteral("Grüße")}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
