#include "console/classroom/screenshots.h"

#include <QDateTime>
#include <QLocale>
#include <QPainter>
#include <QPrinter>
#include <QSaveFile>

#include "console/classroom/command_link.h"
#include "console/classroom/seats.h"
#include "console/message_display.h"
#include "console/windows/dialogs.h"
#include "console/windows/jpeg_image.h"

namespace saalwacht::console {

Screenshots::Screenshots(CommandLink& link, Seats& seats, ScreenshotWindow& window, MessageDisplay& messages,
                         QObject* parent)
    : QObject(parent), link_(link), seats_(seats), window_(window), messages_(messages) {
  connect(&link_.client(), &CommandClient::screenshotReceived, this, &Screenshots::received);
  connect(&link_.client(), &CommandClient::screenshotCancelled, this, &Screenshots::cancelled);
  connect(&link_.client(), &CommandClient::screenshotFailed, this, &Screenshots::failed);
  connect(&link_, &CommandLink::linkIdle, this, [this](int seat) {
    if (held_ && seat == seat_) submit();
  });
}

QString Screenshots::caption(const QString& name, const QDateTime& when) {
  const QLocale locale;
  // A short format with a two-digit year ("dd.MM.yy") gets the whole year.
  QString format = locale.dateFormat(QLocale::ShortFormat);
  if (!format.contains(QStringLiteral("yyyy"))) format.replace(QStringLiteral("yy"), QStringLiteral("yyyy"));
  return QStringLiteral("Screenshot %1 - %2 - %3")
      .arg(name, locale.toString(when.date(), format), when.time().toString(QStringLiteral("h.mm")));
}

QString Screenshots::fileName(const QString& caption) {
  QString name = caption;
  for (const QChar c : QStringLiteral("/\\:*?\"<>|")) name.replace(c, QLatin1Char('-'));
  return name + QStringLiteral(".jpg");
}

void Screenshots::request(int seat) {
  // An older request still under way is no longer wanted.
  if (waiting_ && !held_) link_.client().cancelScreenshot(seat_);
  seat_ = seat;
  host_ = seats_.name(seat);
  waiting_ = true;
  cancelled_ = false;
  held_ = true;
  bytes_.clear();
  window_.showWaiting(caption(host_, QDateTime::currentDateTime()));
  window_.show();
  window_.raise();
  if (link_.idle(seat_)) submit();
}

void Screenshots::submit() {
  held_ = false;
  request_ = link_.send(seat_, host_, CommandKind::Screenshot);
}

void Screenshots::received(int seat, quint64 request, const QByteArray& jpeg) {
  // Only the picture of the latest request is shown.
  if (seat != seat_ || request != request_ || !waiting_ || held_) return;
  waiting_ = false;
  QString error;
  const QImage picture = decodeJpeg(std::string_view(jpeg.constData(), static_cast<std::size_t>(jpeg.size())), error);
  if (picture.isNull()) {
    messages_.show(&window_, window_.windowTitle(), error, MessageDisplay::Kind::Error);
    closeWindow();
    return;
  }
  bytes_ = jpeg;
  window_.showPicture(picture);
}

void Screenshots::cancelled(int seat, quint64 request) {
  if (seat != seat_ || request != request_ || !waiting_ || held_) return;
  waiting_ = false;
  // Cancelled by the teacher: the window goes. A PC that never answered
  // leaves the window waiting until the teacher closes it.
  if (cancelled_) closeWindow();
}

void Screenshots::failed(int seat, quint64 request) {
  if (seat != seat_ || request != request_ || !waiting_ || held_) return;
  waiting_ = false;
  // Junk or a refusal instead of a size: no picture will come, so the window
  // does not wait for one.
  messages_.show(&window_, window_.windowTitle(), QString(noPicture_).arg(host_), MessageDisplay::Kind::Error);
  closeWindow();
}

void Screenshots::cancel() {
  if (waiting_ && held_) {
    // Never started: nothing to end on the link.
    closeWindow();
    return;
  }
  if (waiting_ && link_.outstanding(CommandKind::Screenshot) > 0) {
    cancelled_ = true;
    link_.client().cancelScreenshot(seat_);
    return;
  }
  closeWindow();
}

void Screenshots::cancelAll() {
  for (int seat = 1; seat <= kSeatCount; ++seat) link_.client().cancelScreenshot(seat);
  closeWindow();
}

void Screenshots::closeWindow() {
  waiting_ = false;
  held_ = false;
  bytes_.clear();
  window_.showWaiting(window_.windowTitle());
  window_.hide();
}

void Screenshots::save() {
  if (bytes_.isEmpty()) return;
  const QByteArray picture = bytes_;
  const QString file =
      messages_.askSaveFileName(&window_, fileName(window_.windowTitle()), QStringLiteral("JPEG-Grafikdatei (*.jpg)"));
  // The dialog is modal: the picture may have gone meanwhile (the console closes).
  if (file.isEmpty() || bytes_ != picture) return;
  // The file holds the JPEG bytes as the student PC sent them.
  QSaveFile out(file);
  if (!out.open(QIODevice::WriteOnly) || out.write(picture) != picture.size() || !out.commit()) {
    messages_.show(&window_, window_.windowTitle(),
                   QStringLiteral("%1 kann nicht gespeichert werden").arg(file),
                   MessageDisplay::Kind::Error);
    return;
  }
  closeWindow();
}

void Screenshots::print() {
  if (bytes_.isEmpty()) return;
  const QByteArray bytes = bytes_;
  QString error;
  const QImage picture = decodeJpeg(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), error);
  if (picture.isNull()) return;
  QPrinter printer(QPrinter::HighResolution);
  if (!messages_.choosePrinter(&window_, printer) || bytes_ != bytes) return;
  // After the dialog, as the page is always printed upright.
  printer.setPageOrientation(QPageLayout::Portrait);
  printer.setDocName(QStringLiteral("Saalwacht - Screenshot"));
  QPainter painter;
  if (!painter.begin(&printer)) {
    messages_.show(&window_, window_.windowTitle(), QStringLiteral("Der Drucker kann nicht drucken."),
                   MessageDisplay::Kind::Error);
    return;
  }
  const QRect page = printer.pageLayout().paintRectPixels(printer.resolution());
  const int margin = printer.resolution() / 3;
  QFont heading = painter.font();
  heading.setBold(true);
  heading.setUnderline(true);
  heading.setPointSize(14);
  painter.setFont(heading);
  const QRect headingRect(margin, margin, page.width() - 2 * margin, printer.resolution() / 2);
  painter.drawText(headingRect, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Saalwacht - ") + window_.windowTitle());
  // The picture fills the page width and keeps its proportions, however wide it is.
  QRect area(margin, headingRect.bottom() + margin, page.width() - 2 * margin,
             page.height() - headingRect.bottom() - 2 * margin);
  const QSize fitted = picture.size().scaled(area.size(), Qt::KeepAspectRatio);
  painter.drawImage(QRect(area.topLeft(), fitted), picture);
  painter.end();
  closeWindow();
}

}  // namespace saalwacht::console
