// Record table, recording controls and data files.
#include "app/tfcomm.h"

void TFCOMM::BindRecordsHandlers() {}
void TFCOMM::StartupOpenRecordTable() {}
void TFCOMM::INDataToTable() {}
void TFCOMM::RecordSITimeChange() {}
void TFCOMM::RecordSITimeKeyPress(QObject*, char&) {}
void TFCOMM::TrecordTimer() {}
void TFCOMM::N10001Click() {}
void TFCOMM::N50001Click() {}
void TFCOMM::N100001Click() {}
void TFCOMM::N500001Click() {}
void TFCOMM::N1000001Click() {}
void TFCOMM::limitessClick() {}
void TFCOMM::RecallCheckClick() {}
void TFCOMM::RecallCheckExit() {}
void TFCOMM::TimeHKeyUp(QObject*) {}
void TFCOMM::RecallDataTestClick() {}
void TFCOMM::RecordNewClick() {}
void TFCOMM::SpeedButton2Click() {}
void TFCOMM::saveasClick() {}
bool TFCOMM::ConfirmExitWithUnsavedRows() { return true; }
