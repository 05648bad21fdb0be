#include "cardreading.h"

#include "qxident.h"

#include <QDebug>

namespace cardreading {

CardReading readOnce(int port)
{
    CardReading reading;
    unsigned char iin[QXID_IIN_LEN + 4] = {};
    if (QXID_StartFindIDCard(port, iin, 0) < 0)
        return reading;
    unsigned char sn[QXID_SN_LEN + 4] = {};
    if (QXID_SelectIDCard(port, sn, 0) < 0)
        return reading;

    reading.text = QByteArray(kTextBytes, '\0');
    reading.photo = QByteArray(kPhotoBytes, '\0');
    unsigned int textLength = 0;
    const int ret = QXID_ReadBaseMsg(port, reinterpret_cast<unsigned char *>(reading.text.data()),
                                     &textLength,
                                     reinterpret_cast<unsigned char *>(reading.photo.data()),
                                     &reading.photoLength, 0);
    if (ret < 0) {
        qDebug("find card success,select card success,but read card failed,ret=%d\n", ret);
        return CardReading();
    }
    reading.complete = true;
    return reading;
}

} // namespace cardreading
