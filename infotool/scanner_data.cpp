// The scanner's identity and shared data.
#include "scanner_data.h"

#include "texts.h"
#include "unit_management.h"

namespace lumarc::infotool {

ScannerIdentity identify(std::string vendor, std::string description, std::string localName)
{
    ScannerIdentity identity;
    identity.match = lookupModel(vendor, description);
    identity.flags = modelFlags(description);
    identity.vendor = std::move(vendor);
    identity.description = std::move(description);
    identity.localName = std::move(localName);
    return identity;
}

bool endorserFitted(ModelClass modelClass, const ScannerData& data)
{
    return mayHaveEndorser(modelClass) && data.vpd[0x5C] >= 32;
}

uint32_t modeResultMessage(uint32_t result, bool maintenance)
{
    switch (result) {
    case ZORVAN_UNRESOLVABLE:
        return sid::kAddressIncorrect;
    case ZORVAN_STATUS_WRONG_PIN:
        return maintenance ? sid::kPinMismatch : sid::kCannotCommunicate;
    case ZORVAN_STATUS_IN_MAINTENANCE:
        return sid::kInMaintenance;
    case ZORVAN_STATUS_BUSY:
        return sid::kUnitBusy;
    default:
        return sid::kCannotCommunicate;
    }
}

} // namespace lumarc::infotool
