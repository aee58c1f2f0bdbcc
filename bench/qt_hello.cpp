// The reference for window_map_bench: a Qt Widgets program that shows one small window.
#include <QApplication>
#include <QLabel>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QLabel label(QStringLiteral("Hello"));
    label.resize(356, 180);
    label.show();
    return QApplication::exec();
}
