#include "io/device_write.h"

#include <QFileDevice>

QString WriteFailure(QIODevice& device)
{
    // A file's buffer that went out in part keeps the rest; writing it again names the cause.
    if (auto* file = qobject_cast<QFileDevice*>(&device)) file->flush();
    const QString why = device.errorString();
    // QIODevice's text for a device that failed without saying why.
    if (why.isEmpty() || why == QLatin1String("Unknown error")) return QStringLiteral("the file could not be written");
    return why;
}

bool WriteFully(QIODevice& device, const char* data, qint64 size, QString* reason)
{
    qint64 done = 0;
    while (done < size) {
        const qint64 n = device.write(data + done, size - done);
        if (n <= 0) {
            if (reason) *reason = WriteFailure(device);
            return false;
        }
        done += n;
    }
    return true;
}
