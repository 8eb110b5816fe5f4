#include "platform/DeviceMatching.h"

namespace corvex {

bool GetDeviceVidAndPid(const DeviceTreeEntry& service, std::int32_t& vendorId, std::int32_t& productId)
{
    std::unique_ptr<DeviceTreeEntry> ancestor;
    const DeviceTreeEntry* entry = &service;
    while (entry) {
        auto vendor = entry->integerProperty("idVendor");
        auto product = entry->integerProperty("idProduct");
        if (vendor && product) {
            vendorId = *vendor;
            productId = *product;
            return true;
        }
        ancestor = entry->parent();
        entry = ancestor.get();
    }
    return false;
}

bool isCorvexInstrument(const DeviceTreeEntry& service)
{
    std::int32_t vendorId = 0;
    std::int32_t productId = 0;
    return GetDeviceVidAndPid(service, vendorId, productId) && vendorId == corvexUsbVendorId
        && productId == corvexUsbProductId;
}

} // namespace corvex
