// Serial meter link.
#include "app/tfcomm.h"

void TFCOMM::BindSerialHandlers() {}
void TFCOMM::StartupBindSerial() {}
void TFCOMM::ShutdownSerial() {}
void TFCOMM::BTCon1Click() {}
void TFCOMM::BtDiscon1Click() {}
void TFCOMM::COMConClick() {}
void TFCOMM::Button3Click() {}
void TFCOMM::Button2Click() {}
void TFCOMM::H42RData(const uint8_t*, uint32_t) {}
