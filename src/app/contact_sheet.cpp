// contact-sheet: tiles screenshots into one PNG, each under its file name, so that a whole run
// can be looked at in one picture. Usage: contact-sheet OUT.png IN.png...
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cmath>
#include <iostream>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: contact-sheet OUT.png IN.png...\n";
        return 2;
    }
    // Text needs the font database, which needs an application; no window is opened.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    std::vector<std::pair<QString, QImage>> shots;
    for (int i = 2; i < argc; ++i) {
        QImage image(QString::fromLocal8Bit(argv[i]));
        if (image.isNull()) {
            std::cerr << "contact-sheet: cannot read " << argv[i] << "\n";
            return 1;
        }
        shots.emplace_back(QFileInfo(QString::fromLocal8Bit(argv[i])).completeBaseName(), image);
    }
    const int columns = static_cast<int>(std::ceil(std::sqrt(double(shots.size()))));
    const int rows = (static_cast<int>(shots.size()) + columns - 1) / columns;
    const int cellWidth = shots.front().second.width();
    const int cellHeight = shots.front().second.height();
    constexpr int gap = 16;
    constexpr int label = 36;
    QImage sheet(columns * (cellWidth + gap) + gap, rows * (cellHeight + label + gap) + gap,
                 QImage::Format_RGB32);
    sheet.fill(QColor("#3a3a3c"));
    QPainter painter(&sheet);
    painter.setPen(Qt::white);
    QFont font = painter.font();
    font.setPixelSize(20);
    painter.setFont(font);
    for (std::size_t i = 0; i < shots.size(); ++i) {
        const int x = gap + static_cast<int>(i) % columns * (cellWidth + gap);
        const int y = gap + static_cast<int>(i) / columns * (cellHeight + label + gap);
        painter.drawText(QRect(x, y, cellWidth, label), Qt::AlignLeft | Qt::AlignVCenter,
                         shots[i].first);
        painter.drawImage(QRect(x, y + label, cellWidth, cellHeight), shots[i].second);
    }
    painter.end();
    if (!sheet.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::cerr << "contact-sheet: cannot write " << argv[1] << "\n";
        return 1;
    }
    return 0;
}
