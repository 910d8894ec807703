// Writes the application icon IDI_APP as PNG files for a desktop's icon theme:
// OUTDIR/NxN/apps/NAME.png for each size given. 16 and 32 are the icon's own pictures; larger
// sizes are the 32-pixel picture scaled without smoothing, so its pixels stay sharp.
// Usage: corvanel-make-icons OUTDIR NAME SIZE...
#include <QDir>
#include <QImage>
#include <QString>
#include <cstdio>
#include <cstdlib>

#include "res/icons.h"
#include "res/resource.h"

int main(int argc, char* argv[]) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: corvanel-make-icons OUTDIR NAME SIZE...\n");
    return 2;
  }
  const QString outDir = QString::fromLocal8Bit(argv[1]);
  const QString name = QString::fromLocal8Bit(argv[2]);
  for (int i = 3; i < argc; ++i) {
    const int size = std::atoi(argv[i]);
    QImage image = res::IconImage(IDI_APP, size);
    if (image.isNull()) {
      const int base = size < 32 ? 16 : 32;
      image = res::IconImage(IDI_APP, base)
                  .scaled(size, size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    }
    const QString dir = QStringLiteral("%1/%2x%2/apps").arg(outDir).arg(size);
    const QString path = QStringLiteral("%1/%2.png").arg(dir, name);
    if (image.isNull() || !QDir().mkpath(dir) || !image.save(path, "PNG")) {
      std::fprintf(stderr, "corvanel-make-icons: cannot write %s\n",
                   path.toLocal8Bit().constData());
      return 1;
    }
  }
  return 0;
}
