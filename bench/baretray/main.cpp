// The yardstick of bench/side-by-side: a bare tray application with a window of eight
// fields, a tray icon and a one-second timer, and nothing else.
#include <QApplication>
#include <QByteArray>
#include <QGridLayout>
#include <QLineEdit>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    QWidget window;
    window.setWindowTitle("Bare tray");
    auto* grid = new QGridLayout(&window);
    QLineEdit* fields[8];
    for (int i = 0; i < 8; ++i) {
        fields[i] = new QLineEdit(&window);
        fields[i]->setReadOnly(true);
        grid->addWidget(fields[i], i / 2, i % 2);
    }
    QPixmap picture(16, 16);
    picture.fill(Qt::darkGreen);
    QSystemTrayIcon tray{QIcon(picture)};
    tray.setToolTip("Bare tray");
    tray.show();

    int seconds = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        ++seconds;
        for (int i = 0; i < 8; ++i) fields[i]->setText(QString::number(seconds * (i + 1)));
    });
    tick.start(1000);

    // Shown at start, then hidden into the notification area, as the program does; with
    // "--shown" the window stays.
    window.show();
    const bool stayShown = argc > 1 && QByteArray(argv[1]) == "--shown";
    QTimer::singleShot(10, &window, [&] {
        if (!stayShown && QSystemTrayIcon::isSystemTrayAvailable()) window.hide();
    });
    return app.exec();
}
