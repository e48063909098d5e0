#include "ui_qt/help_window.h"

#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QShowEvent>
#include <QStringDecoder>

#include "ui_qt/form_helpers.h"

namespace kelvo {

namespace {

// Distances of the memo and the button to the window's edges, as designed for 475 x 463.
constexpr int kMemoLeft = 8;
constexpr int kMemoTop = 8;
constexpr int kMemoRightGap = 7;
constexpr int kMemoBottomGap = 39;
constexpr int kButtonRightGap = 8;
constexpr int kButtonBottomGap = 8;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;

QString Decode(QStringDecoder::Encoding AEncoding, QByteArrayView ABytes) {
  QStringDecoder decoder(AEncoding, QStringDecoder::Flag::Stateless);
  return decoder.decode(ABytes);
}

}  // namespace

QString DecodeReadmeText(const QByteArray& ABytes) {
  QString text;
  const QByteArrayView bytes(ABytes);
  if (bytes.startsWith("\xEF\xBB\xBF")) {
    text = Decode(QStringDecoder::Utf8, bytes.sliced(3));
  } else if (bytes.startsWith("\xFF\xFE")) {
    text = Decode(QStringDecoder::Utf16LE, bytes.sliced(2));
  } else if (bytes.startsWith("\xFE\xFF")) {
    text = Decode(QStringDecoder::Utf16BE, bytes.sliced(2));
  } else {
    // No mark: the system's 8-bit code page. On Linux that is UTF-8 for text that is valid
    // UTF-8; anything else was most likely written on Windows in Latin-1 or a close relative.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    text = utf8.decode(bytes);
    if (utf8.hasError()) {
      text = QString::fromLatin1(bytes);
    }
  }
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  if (text.endsWith(QLatin1Char('\n'))) {
    text.chop(1);
  }
  return text;
}

TfmHelp::TfmHelp(QWidget* AParent)
    : TCentredDialog(AParent),
      Memo1(MakeChild<QPlainTextEdit>(this, "Memo1", 8, 8, 460, 416)),
      Button1(MakeChild<QPushButton>(this, "Button1", 392, 430, 75, 25)) {
  setObjectName(QStringLiteral("fmHelp"));
  setWindowTitle(QStringLiteral("Help"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint | Qt::WindowMaximizeButtonHint);
  setFont(DesignFont(QStringLiteral("Tahoma"), 11));
  resize(475, 463);

  Memo1->setReadOnly(true);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);

  Button1->setText(QStringLiteral("Close"));
  Button1->setDefault(true);
  // Esc rejects the dialog as well, so the button and Esc close it the same way.
  connect(Button1, &QPushButton::clicked, this, &QDialog::reject);
}

void TfmHelp::showEvent(QShowEvent* AEvent) {
  QDialog::showEvent(AEvent);
  if (!AEvent->spontaneous()) {
    FormShow();
  }
}

void TfmHelp::resizeEvent(QResizeEvent* AEvent) {
  QDialog::resizeEvent(AEvent);
  const QSize size = AEvent->size();
  Memo1->setGeometry(kMemoLeft, kMemoTop, size.width() - kMemoLeft - kMemoRightGap,
                     size.height() - kMemoTop - kMemoBottomGap);
  Button1->setGeometry(size.width() - kButtonRightGap - kButtonWidth,
                       size.height() - kButtonBottomGap - kButtonHeight, kButtonWidth,
                       kButtonHeight);
}

void TfmHelp::FormShow() {
  // Read once per run; a missing (or empty) file is tried again at the next showing.
  if (!Memo1->document()->isEmpty()) {
    return;
  }
  QFile file(fHelpFile);
  if (fHelpFile.isEmpty() || !file.exists()) {
    return;
  }
  // A file that exists but cannot be read leaves the window empty as well: an exception must
  // not cross Qt's event dispatch, and the window stays usable.
  if (!file.open(QIODevice::ReadOnly)) {
    return;
  }
  Memo1->setPlainText(DecodeReadmeText(file.readAll()));
}

}  // namespace kelvo
