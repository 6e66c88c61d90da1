// main() for GoogleTest programs that need a QApplication: offscreen, so
// they run without a display, on a screen larger than the console's window,
// so that maximizing it grows it as on a teacher's PC.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/offscreen_gtest_XXXXXX"));
  const QString config = folder.filePath(QStringLiteral("screen.json"));
  QFile file(config);
  if (file.open(QIODevice::WriteOnly)) {
    file.write(R"({"screens": [{"name": "Schirm", "x": 0, "y": 0, "width": 1280, "height": 1024,
                   "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
    file.close();
    qputenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + config).toLocal8Bit());
  } else {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
