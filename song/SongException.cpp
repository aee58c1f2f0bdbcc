#include "SongException.h"

namespace tonelark {

ESongException::ESongException(const QString &message)
    : std::runtime_error(message.toUtf8().toStdString())
{
}

} // namespace tonelark
