#include "ui_win32/help_window.h"

#include <stdexcept>
#include <vector>

#include "base/handle_win.h"
#include "ui_win32/win32_text.h"

namespace kelvo {

namespace {

// Distances of the memo and the button to the window's edges, as designed for 475 x 463.
constexpr int kMemoLeft = 8;
constexpr int kMemoTop = 8;
constexpr int kMemoRightGap = 475 - 8 - 460;
constexpr int kMemoBottomGap = 463 - 8 - 416;
constexpr int kButtonRightGap = 475 - 392;
constexpr int kButtonBottomGap = 463 - 430;

std::wstring FromCodePage(std::string_view ABytes, unsigned ACodePage) {
  if (ABytes.empty()) {
    return {};
  }
  const int size = static_cast<int>(ABytes.size());
  const int length = MultiByteToWideChar(ACodePage, 0, ABytes.data(), size, nullptr, 0);
  std::wstring text(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(ACodePage, 0, ABytes.data(), size, text.data(), length);
  return text;
}

std::wstring FromUtf16(std::string_view ABytes, bool ABigEndian) {
  std::wstring text;
  text.reserve(ABytes.size() / 2);
  for (std::size_t i = 0; i + 1 < ABytes.size(); i += 2) {
    const auto first = static_cast<unsigned char>(ABytes[i]);
    const auto second = static_cast<unsigned char>(ABytes[i + 1]);
    text.push_back(
        static_cast<wchar_t>(ABigEndian ? (first << 8) | second : (second << 8) | first));
  }
  return text;
}

std::wstring WithCrLf(const std::wstring& AText) {
  std::wstring result;
  result.reserve(AText.size() + AText.size() / 16);
  for (std::size_t i = 0; i < AText.size(); ++i) {
    const wchar_t c = AText[i];
    if (c == L'\r') {
      result += L"\r\n";
      if (i + 1 < AText.size() && AText[i + 1] == L'\n') {
        ++i;
      }
    } else if (c == L'\n') {
      result += L"\r\n";
    } else {
      result.push_back(c);
    }
  }
  return result;
}

std::string ReadShared(const std::wstring& AFileName) {
  // Others may read the file meanwhile, but not write it.
  const THandle file(CreateFileW(AFileName.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    throw std::runtime_error("Cannot open file \"" + Narrow(AFileName) + "\"");
  }
  std::string bytes;
  std::vector<char> buffer(std::size_t{64} * 1024);
  DWORD read = 0;
  while (ReadFile(file.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr) &&
         read > 0) {
    bytes.append(buffer.data(), read);
  }
  return bytes;
}

}  // namespace

std::wstring DecodeReadmeText(std::string_view ABytes, unsigned ACodePage) {
  std::wstring text;
  if (ABytes.starts_with("\xEF\xBB\xBF")) {
    text = FromCodePage(ABytes.substr(3), CP_UTF8);
  } else if (ABytes.starts_with("\xFF\xFE")) {
    text = FromUtf16(ABytes.substr(2), false);
  } else if (ABytes.starts_with("\xFE\xFF")) {
    text = FromUtf16(ABytes.substr(2), true);
  } else {
    text = FromCodePage(ABytes, ACodePage);
  }
  return WithCrLf(text);
}

TfmHelp::TfmHelp() : TModalForm({L"Help", 475, 463, true}) {}

void TfmHelp::CreateControls() {
  SetFont(CreateDesignFont(L"Tahoma", 11, Dpi()));
  AddControl(L"EDIT", L"",
             WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | ES_NOHIDESEL,
             idMemo1, {8, 8, 460, 416}, WS_EX_CLIENTEDGE);
  AddControl(L"BUTTON", L"Close", WS_TABSTOP | BS_DEFPUSHBUTTON, IDCANCEL, {392, 430, 75, 25});
  // Enter presses Close as well.
  SendMessageW(Handle(), DM_SETDEFID, IDCANCEL, 0);
  // The system menu offers no minimize.
  if (HMENU menu = GetSystemMenu(Handle(), FALSE)) {
    DeleteMenu(menu, SC_MINIMIZE, MF_BYCOMMAND);
  }
}

void TfmHelp::FormShow() {
  SendMessageW(Handle(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(IDCANCEL)), TRUE);
  HWND memo = Item(idMemo1);
  // Read once per run; a missing (or empty) file is tried again at the next showing.
  if (GetWindowTextLengthW(memo) > 0 || fHelpFile.empty()) {
    return;
  }
  const std::wstring name = Widen(fHelpFile);
  if (GetFileAttributesW(name.c_str()) == INVALID_FILE_ATTRIBUTES) {
    return;
  }
  // A file that exists but cannot be opened raises an error for AppOnException; the window
  // still opens, empty.
  const std::string bytes = ReadShared(name);
  SetWindowTextW(memo, DecodeReadmeText(bytes, CP_ACP).c_str());
}

bool TfmHelp::Command(int AId, int ACode) {
  if (AId == IDOK) {
    return true;
  }
  return TModalForm::Command(AId, ACode);
}

void TfmHelp::Resized(int AWidth, int AHeight) {
  const int dpi = Dpi();
  const int left = ScaleFrom96(kMemoLeft, dpi);
  const int top = ScaleFrom96(kMemoTop, dpi);
  PlaceWindow(Item(idMemo1), {left, top, AWidth - left - ScaleFrom96(kMemoRightGap, dpi),
                              AHeight - top - ScaleFrom96(kMemoBottomGap, dpi)});
  const TBounds button = ScaleFrom96(TBounds{0, 0, 75, 25}, dpi);
  PlaceWindow(Item(IDCANCEL),
              {AWidth - ScaleFrom96(kButtonRightGap, dpi),
               AHeight - ScaleFrom96(kButtonBottomGap, dpi), button.Width, button.Height});
}

}  // namespace kelvo
