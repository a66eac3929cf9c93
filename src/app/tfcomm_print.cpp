// Printed report of the record table.
#include "app/tfcomm.h"

void TFCOMM::BindPrintHandlers() {}
void TFCOMM::BtPrintClick() {}
void TFCOMM::PrintClick() {}
