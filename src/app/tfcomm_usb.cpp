// USB cable link.
#include "app/tfcomm.h"

void TFCOMM::BindUsbHandlers() {}
void TFCOMM::ShutdownUsb() {}
void TFCOMM::HidCtlArrival(THidDevice*) {}
bool TFCOMM::HidCtlEnumerate(THidDevice*, int32_t) { return true; }
void TFCOMM::HidCtlDeviceChange(QObject*) {}
void TFCOMM::HidCtlDeviceDataError(THidDevice*, uint32_t) {}
void TFCOMM::HidCtlRemoval(THidDevice*) {}
void TFCOMM::HidDataHandler(THidDevice*, uint8_t, const uint8_t*, uint16_t) {}
void TFCOMM::ReadBtnClick() {}
void TFCOMM::USBConClick() {}
void TFCOMM::SetFeatureClick() {}
void TFCOMM::SendDataClick() {}
void TFCOMM::ConTimerTimer() {}

#include "app/cli.h"
bool ApplyWindowOption(const std::string&, AppOptions&) { return false; }
