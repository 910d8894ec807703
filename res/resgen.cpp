// corvanel-resgen: writes the Windows resources of the dialogs from res/ (the templates, the string
// table and the icons), so that each template is described once, here, and the resource script the
// Windows build compiles is made from it.
//   corvanel-resgen --write DIR   writes DIR/dialogs.rc, DIR/app.ico and DIR/mark.ico
//   corvanel-resgen --check DIR   exit status 1, naming each file, when one differs from what
//                                 res/ gives (CTest runs this against app/windows)
#include <QImage>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "res/icons.h"
#include "res/resource.h"
#include "res/strings.h"
#include "res/templates.h"

namespace {

using res::ControlKind;
namespace ctl = res::ctl;
namespace dlg = res::dlg;

// A text as a resource-script string: quotes doubled, backslashes escaped.
std::string Quoted(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') {
      out += "\"\"";
    } else if (c == '\\') {
      out += "\\\\";
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string Join(const std::vector<std::string>& parts) {
  std::string out;
  for (const std::string& part : parts) {
    if (!out.empty()) out += " | ";
    out += part;
  }
  return out.empty() ? "0" : out;
}

std::string DialogStyle(std::uint32_t style) {
  std::vector<std::string> parts;
  if (style & dlg::kModalFrame) parts.push_back("DS_MODALFRAME");
  if (style & dlg::k3DLook) parts.push_back("DS_3DLOOK");
  if (style & dlg::kNoIdleMsg) parts.push_back("DS_NOIDLEMSG");
  if (style & dlg::kSetFont) parts.push_back("DS_SETFONT");
  if (style & dlg::kPopup) parts.push_back("WS_POPUP");
  if (style & dlg::kVisible) parts.push_back("WS_VISIBLE");
  if (style & dlg::kCaption) parts.push_back("WS_CAPTION");
  if (style & dlg::kSysMenu) parts.push_back("WS_SYSMENU");
  return Join(parts);
}

std::string ControlClass(ControlKind kind) {
  switch (kind) {
    case ControlKind::Static:
    case ControlKind::StaticIcon:
      return "\"Static\"";
    case ControlKind::Edit:
      return "\"Edit\"";
    case ControlKind::PushButton:
      return "\"Button\"";
    case ControlKind::ProgressBar:
      return "\"msctls_progress32\"";
  }
  return "\"Static\"";
}

std::string ControlStyle(const res::ControlTemplate& control) {
  const std::uint32_t s = control.style;
  std::vector<std::string> parts;
  switch (control.kind) {
    case ControlKind::Static:
      parts.push_back((s & ctl::kNoPrefix) ? "SS_NOPREFIX" : "SS_LEFT");
      break;
    case ControlKind::StaticIcon:
      parts.push_back("SS_ICON");
      break;
    case ControlKind::PushButton:
      parts.push_back((s & ctl::kDefPushButton) ? "BS_DEFPUSHBUTTON" : "BS_PUSHBUTTON");
      break;
    case ControlKind::Edit:
      if (s & ctl::kMultiLine) parts.push_back("ES_MULTILINE");
      if (s & ctl::kAutoVScroll) parts.push_back("ES_AUTOVSCROLL");
      if (s & ctl::kAutoHScroll) parts.push_back("ES_AUTOHSCROLL");
      if (s & ctl::kReadOnly) parts.push_back("ES_READONLY");
      break;
    case ControlKind::ProgressBar:
      break;
  }
  parts.push_back("WS_CHILD");
  if (s & ctl::kVisible) parts.push_back("WS_VISIBLE");
  if (s & ctl::kBorder) parts.push_back("WS_BORDER");
  if (s & ctl::kVScroll) parts.push_back("WS_VSCROLL");
  if (s & ctl::kGroup) parts.push_back("WS_GROUP");
  if (s & ctl::kTabStop) parts.push_back("WS_TABSTOP");
  return Join(parts);
}

std::string ControlExStyle(std::uint32_t style) {
  std::vector<std::string> parts;
  if (style & ctl::kClientEdge) parts.push_back("WS_EX_CLIENTEDGE");
  if (style & ctl::kStaticEdge) parts.push_back("WS_EX_STATICEDGE");
  return Join(parts);
}

std::string Rect(const res::DluRect& r) {
  std::ostringstream out;
  out << r.x << ", " << r.y << ", " << r.cx << ", " << r.cy;
  return out.str();
}

std::string ResourceName(int id) {
  switch (id) {
    case IDD_ABOUT:
      return "IDD_ABOUT";
    case IDD_MAIN:
      return "IDD_MAIN";
    case IDD_HELP:
      return "IDD_HELP";
    default:
      return std::to_string(id);
  }
}

void WriteDialog(std::ostream& out, const res::DialogTemplate& d) {
  out << "// " << ResourceName(d.id) << "\n";
  out << d.id << (d.extended ? " DIALOGEX " : " DIALOG ") << "0, 0, " << d.cx << ", " << d.cy
      << "\n";
  out << "STYLE " << DialogStyle(d.style) << "\n";
  if (d.extended) {
    out << "EXSTYLE " << ((d.style & dlg::kAppWindow) ? "WS_EX_APPWINDOW" : "0") << "\n";
  }
  out << "CAPTION " << Quoted(d.caption) << "\n";
  // Normal weight (400), not italic, the default character set (1).
  out << "FONT " << d.fontPointSize << ", " << Quoted(d.fontName)
      << (d.extended ? ", 400, 0, 0x1" : "") << "\n";
  out << "BEGIN\n";
  for (const res::ControlTemplate& c : d.controls) {
    // A static icon names its icon resource by number instead of a text.
    const std::string text =
        c.kind == ControlKind::StaticIcon ? std::to_string(c.icon) : Quoted(c.text);
    out << "    CONTROL " << text << ", " << c.id << ", " << ControlClass(c.kind) << ", "
        << ControlStyle(c) << ", " << Rect(c.rect);
    if (d.extended) out << ", " << ControlExStyle(c.style);
    out << "\n";
  }
  out << "END\n\n";
}

std::string DialogScript() {
  std::ostringstream out;
  out << "// Made by corvanel-resgen from res/ (templates, strings, icons); do not edit by hand:\n"
         "// change res/ and run corvanel-resgen --write app/windows.\n"
         "#include <windows.h>\n\n";
  for (int id : {IDD_ABOUT, IDD_MAIN, IDD_HELP}) WriteDialog(out, *res::FindDialogTemplate(id));
  out << "STRINGTABLE\nBEGIN\n    " << IDS_ABOUTBOX << ", " << Quoted(res::LoadString(IDS_ABOUTBOX))
      << "\nEND\n\n";
  out << IDI_APP << " ICON \"app.ico\"\n";
  out << IDI_MARK << " ICON \"mark.ico\"\n";
  return out.str();
}

void Put16(std::string& out, unsigned value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>((value >> 8) & 0xFF);
}
void Put32(std::string& out, std::uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

int PaletteIndex(QRgb colour) {
  for (std::size_t i = 0; i < res::kIconPalette.size(); ++i) {
    if (res::kIconPalette[i] == colour) return static_cast<int>(i);
  }
  return 0;
}

// One icon image in the 16-colour format: header, palette, colour bits and the transparency
// mask, rows bottom-up as the format keeps them.
std::string IconImageBits(const QImage& image) {
  const int w = image.width();
  const int h = image.height();
  const int colourStride = ((w * 4 + 31) / 32) * 4;
  const int maskStride = ((w + 31) / 32) * 4;
  std::string out;
  Put32(out, 40);
  Put32(out, static_cast<std::uint32_t>(w));
  Put32(out, static_cast<std::uint32_t>(2 * h));  // colour bits and mask, one above the other
  Put16(out, 1);
  Put16(out, 4);
  Put32(out, 0);
  Put32(out, static_cast<std::uint32_t>((colourStride + maskStride) * h));
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, 16);
  Put32(out, 0);
  for (QRgb colour : res::kIconPalette) {
    out += static_cast<char>(qBlue(colour));
    out += static_cast<char>(qGreen(colour));
    out += static_cast<char>(qRed(colour));
    out += '\0';
  }
  for (int row = h - 1; row >= 0; --row) {
    std::string line(static_cast<std::size_t>(colourStride), '\0');
    for (int col = 0; col < w; ++col) {
      const QRgb pixel = image.pixel(col, row);
      const int index = qAlpha(pixel) == 0 ? 0 : PaletteIndex(pixel | 0xFF000000u);
      line[static_cast<std::size_t>(col / 2)] |=
          static_cast<char>(col % 2 == 0 ? index << 4 : index);
    }
    out += line;
  }
  for (int row = h - 1; row >= 0; --row) {
    std::string line(static_cast<std::size_t>(maskStride), '\0');
    for (int col = 0; col < w; ++col) {
      if (qAlpha(image.pixel(col, row)) == 0) {
        line[static_cast<std::size_t>(col / 8)] |= static_cast<char>(0x80 >> (col % 8));
      }
    }
    out += line;
  }
  return out;
}

std::string IconFile(int id, std::initializer_list<int> sizes) {
  std::vector<std::string> images;
  std::vector<int> shown;
  for (int size : sizes) {
    const QImage image = res::IconImage(id, size);
    if (image.isNull()) continue;
    images.push_back(IconImageBits(image));
    shown.push_back(size);
  }
  std::string out;
  Put16(out, 0);
  Put16(out, 1);  // an icon
  Put16(out, static_cast<unsigned>(images.size()));
  std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * images.size());
  for (std::size_t i = 0; i < images.size(); ++i) {
    out += static_cast<char>(shown[i]);
    out += static_cast<char>(shown[i]);
    out += static_cast<char>(16);  // colours
    out += '\0';
    Put16(out, 1);
    Put16(out, 4);
    Put32(out, static_cast<std::uint32_t>(images[i].size()));
    Put32(out, offset);
    offset += static_cast<std::uint32_t>(images[i].size());
  }
  for (const std::string& image : images) out += image;
  return out;
}

bool ReadFile(const std::string& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), {});
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || (std::string(argv[1]) != "--write" && std::string(argv[1]) != "--check")) {
    std::fprintf(stderr, "usage: corvanel-resgen --write|--check DIR\n");
    return 2;
  }
  const bool write = std::string(argv[1]) == "--write";
  const std::string dir = argv[2];
  const std::pair<std::string, std::string> files[] = {
      {"dialogs.rc", DialogScript()},
      // The system's icon sizes at 96 and 144 dpi (32 and 48, small 16 and 24) beside the design
      // sizes, so that Windows picks a drawn image at either scale instead of stretching one.
      {"app.ico", IconFile(IDI_APP, {32, 16, 48, 24})},
      {"mark.ico", IconFile(IDI_MARK, {22, 32, 48})},
  };
  int status = 0;
  for (const auto& [name, bytes] : files) {
    std::string path = dir;
    path += '/';
    path += name;
    if (write) {
      std::ofstream out(path, std::ios::binary);
      out << bytes;
      if (!out.flush()) {
        std::fprintf(stderr, "corvanel-resgen: cannot write %s\n", path.c_str());
        status = 1;
      }
      continue;
    }
    std::string present;
    if (!ReadFile(path, present) || present != bytes) {
      std::fprintf(stderr,
                   "corvanel-resgen: %s differs from res/; run corvanel-resgen --write %s\n",
                   path.c_str(), dir.c_str());
      status = 1;
    }
  }
  return status;
}
