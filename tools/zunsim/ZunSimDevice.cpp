#include "ZunSimDevice.h"

#include "CZunImageDefaults.h"

ZunSimDevice::ZunSimDevice(const Identity& id)
    : m_id(id), m_image(CZunImageDefaults::defaultImage(id.firmware ? id.firmware : 1080)),
      m_flash(id.firmware ? id.firmware : 1080)
{
}
