// The rows of the three code-to-name tables, built from the constants of
// kivcodes.h, and the checks of their shape, made when this file compiles.
// The lookup is in kivtables.cpp.
#include <cstddef>
#include <cstdint>
#include <iterator>

#include "debug/kivtables.h"

namespace {

// The name of a row is the spelling of its constant, so the two cannot drift.
#define KIV_CODE_ROW(code, input2) TwoInputStringRow{code, input2, #code}

constexpr TwoInputStringRow kEndOfTable{kEndOfTableInput1, kEndOfTableInput2, "endoftable"};

constexpr TwoInputStringRow ValueToString[] = {
    // Adapter result codes.
    KIV_CODE_ROW(AS_Warning, kCategoryAdapterResult),
    KIV_CODE_ROW(AS_Success, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_UnknownFunction, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_Busy, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_Failure, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_HardwareError, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_ParityNotValid, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_MediaReadOnly, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_IllegalRequest, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_TableFull, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_InvalidRID, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_InvalidSignature, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_AccessDenied, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_NotReady, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_ReservationConflict, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_WriteProtect, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_NotInTable, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_Offline, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_MediumError, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_SCSIError, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_LogOpen, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_FencedOut, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_FormatDegraded, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_FormatInProgress, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_ClusterNumberUnknown, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_KIVString, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_AvoidReadWrite, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_AvoidWrite, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_NotLocal, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_NotYetImplemented, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_RetryWhenMemory, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_NotFound, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_FlushCompFailure, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_InServiceMode, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_OfflineTimeout, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_BadSequenceNumber, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_BadTransferLRC, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_BadBlockLRC, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_TcbAborted, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_NotSupported, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_NonISAL, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_OtherAdapterServiceMode, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_NonIdem, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_RequireLogical, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_RequirePhysical, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_TimeoutExpired, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_BrokenMapping, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_BadExtent, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_TooManyExtent, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_IllReqNotSingleBlock, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_IllReqNotSupported, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_IllReqBadEVPD, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_IllReqBadPageCode, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_IllReqShortParmDDR, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_IllReqBadImmed, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_IllReqBadType, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_IllReqBadFlag, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_IllReqBadLength, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_IllReqBlockSize, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_IllReqIntRes, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_IllReqBadFlags, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_IllReqResvdNonZero, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_IllReqDdrType, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_IllReqInvalidRid, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_IllReqRidInvalidForMode, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_IllReqNotOpen, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_IllReqFenceDataInvalid, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_IllReqFenceMaskWrong, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_IllReqBadDownload, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_IllReqAlreadyConnected, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_IllReqNobodyConnected, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_IllReqNotYouConnected, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_NvramDefective, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_NotApplicableForResourceType, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_CantDeleteInUseResource, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_TimedOut, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_Aborted, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_BadIndex, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_BadSerialNumber, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_BadOldSerialNumber, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_BadNewSerialNumber, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_BadComponentCount, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_BadComponentSerialNumber, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_BadResrcSerialNumber, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_BadOldComponentSerialNumber, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_BadNewComponentSerialNumber, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_BadParameterValues, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_ArrayIsBroken, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_SetOMTFailed, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_BadExchangeCandidate, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_FiltersOnly, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_NotFilters, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_NvramError, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_InvalidCandidateRequest, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_InvalidCreateRequest, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_ReadOnlyParameterValue, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_ArrayIsBrokenOrDegraded, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_PhysWrapped, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_PhysCertifying, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_PhysFormatting, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_NotOpen, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_BadComponent, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_ConfirmRequired, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_InvalidMetaRequest, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_PhysIniting, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_DataLossWillOccur, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_NoHotSpareAvailable, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_CoupleOffline, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_CoupleCopying, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_CoupleDegraded, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_CLNHeld, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_InvalidCLN, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_CLNNotHeld, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_ReachedWrongPeer, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_NotReachedPeer, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_NoPeerLabel, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_MissingCluster, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_RoutingError, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_RemoteTimeout, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_TransferFail, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_TargetNotAvailable, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_TargetReceiverFull, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_TargetTransferTooLarge, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_InConfig, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_QNTimedOut, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_NonExistentALPA, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_LoopDisabled, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_LoopDown, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_LoopInitialising, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_PortFailure, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_NonExistentPort, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_IllReqNoOpenSegment, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_IllReqBadStreamHandle, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_IllReqBadSegmentID, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_IllReqTooManyStreams, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_IllReqBadOffset, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_IllReqTooManyTracks, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_IllReqBadCTrackCount, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_IllReqBadUCount, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_IllReqTransmitTooLong, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_IllReqBadTrackLength, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_IllReqOpenSegment, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_IllReqTooManySegments, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_IllReqWrongDataType, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_IllReqNoTrack, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_InvalidSegDir, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_StreamFull, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_InvalidTrackHeader, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_BadData, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_DecompressionError, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_NoVTID, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_OutOfSegmentMemory, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_BadTrackVersion, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_BadHostBlockLRC, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_BadDiskBlockLRC, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_NullSegDir, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_DprOther, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_KIVGS_UnknownNode, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_KIVGS_BadParmSize, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_KIVGS_HardwareError, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_KIVGS_DbgBitsSetError, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_KIVGS_InitialiseResetFailed, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_KIVGS_TerminateResetCompFailed, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_KIVGS_EEHRecoveryFailed, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_KIVGS_ResetCompFailed, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_KIVGS_Reset64Failed, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_KIVGS_ResetInitFailed, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_KIVGS_DownloadResetCompFailed, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_KIVGS_Download64Failed, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_KIVGS_DownloadDnldFailed, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_KIVGS_TerminateResetFailed, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_KIVGS_DumpFailed, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_KIVGS_TCBStartInitFailed, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_KIVGS_TCBStartDnldFailed, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_KIVGS_IRQReadFailed, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_KIVGS_GWDFailed, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_KIVGS_FailedInStartup, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_KIVGS_QuiesceTimeout, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_KIVGS_ShowstopTimeout, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_KIVES_BadParmType, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_KIVES_BadParmSize, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_KIVES_AlreadyRegistered, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_KIVES_NotRegistered, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_KIVES_IllegalTemplate, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_Incomplete, kCategoryAdapterResult),
    KIV_CODE_ROW(AE_IllegalReqPartitionOpen, kCategoryAdapterResult),
    // Directive status bytes.
    KIV_CODE_ROW(DS_InterruptNotInUse, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DS_ServiceNotInUse, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DS_DirectiveNotInUse, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DS_GatewayNotInUse, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DS_Clear, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DS_Set, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DS_Warning, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DS_Success, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DP_Pending, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DP_Aborting, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DE_Failure, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DE_Aborted, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DE_InvalidDirective, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DE_DirectiveNotPending, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DE_DirectiveBeingAborted, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DE_InvalidNode, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DE_GatewayInUse, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DE_TcbNotActive, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DE_InvalidService, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DE_BadParameter, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DE_DataOverrun, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DE_DataUnderrun, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DE_InvalidDescriptorType, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DE_TimedDirectivesNotSupported, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DE_DirectiveInUse, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DE_InvalidServiceNumber, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DE_ServiceInUse, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DE_InterruptInUse, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DE_GatewayFlagsZero, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DE_NoFreeServiceNumbers, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DE_TimeToLiveExausted, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DE_NoTimedDirectives, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DE_StackTooSmall, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DE_HoldUntilAsync, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DE_FatalHardwareError, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DE_ConsumerTableFull, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DE_NotInConsumerTable, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DE_TransactionAbandoned, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DE_SuccessUnknown, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DE_TooBusy, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DE_BadSequenceNumber, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DE_BadTransferLRC, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DE_BadBlockLRC, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DE_ErrorOnCompression, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DE_ErrorOnDecompression, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DE_OutOfOrder, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DE_GatewayDisconnected, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DE_InjectMalloc, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DE_InjectMallocDOS, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DE_InjectMapDdrMalloc, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DE_InjectMapDdrMallocDOS, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DE_InjectMapDdrScatGat, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DE_InjectMapDdrBadType, kCategoryDirectiveStatus),
    KIV_CODE_ROW(DE_InjectIoctl, kCategoryDirectiveStatus),
    // IACL function codes and IACL transactions.
    KIV_CODE_ROW(FC_IACLVersion, kCategoryIacl),
    KIV_CODE_ROW(FC_ResrcCount, kCategoryIacl),
    KIV_CODE_ROW(FC_ResrcList, kCategoryIacl),
    KIV_CODE_ROW(FC_ResrcView, kCategoryIacl),
    KIV_CODE_ROW(FC_CandidateCount, kCategoryIacl),
    KIV_CODE_ROW(FC_CandidateList, kCategoryIacl),
    KIV_CODE_ROW(FC_ResrcCreate, kCategoryIacl),
    KIV_CODE_ROW(FC_ResrcDelete, kCategoryIacl),
    KIV_CODE_ROW(FC_ResrcRename, kCategoryIacl),
    KIV_CODE_ROW(FC_ComponentView, kCategoryIacl),
    KIV_CODE_ROW(FC_ComponentExchange, kCategoryIacl),
    KIV_CODE_ROW(FC_QueryMetaResrcParams, kCategoryIacl),
    KIV_CODE_ROW(FC_ModifyResrcParams, kCategoryIacl),
    KIV_CODE_ROW(FC_FlashIndicator, kCategoryIacl),
    KIV_CODE_ROW(FC_VPDInquiry, kCategoryIacl),
    KIV_CODE_ROW(FC_HardwareInquiry, kCategoryIacl),
    KIV_CODE_ROW(FC_CompExchCandCount, kCategoryIacl),
    KIV_CODE_ROW(FC_CompExchCandList, kCategoryIacl),
    KIV_CODE_ROW(FC_AdapterVPD, kCategoryIacl),
    KIV_CODE_ROW(FC_SyncHealth, kCategoryIacl),
    KIV_CODE_ROW(FC_Wrap, kCategoryIacl),
    KIV_CODE_ROW(FC_Unwrap, kCategoryIacl),
    KIV_CODE_ROW(FC_UnwrapAll, kCategoryIacl),
    KIV_CODE_ROW(FC_Test, kCategoryIacl),
    KIV_CODE_ROW(FC_Format, kCategoryIacl),
    KIV_CODE_ROW(FC_Certify, kCategoryIacl),
    KIV_CODE_ROW(FC_Read, kCategoryIacl),
    KIV_CODE_ROW(FC_Write, kCategoryIacl),
    KIV_CODE_ROW(FC_AdapterSN, kCategoryIacl),
    KIV_CODE_ROW(FC_CacheFormat, kCategoryIacl),
    KIV_CODE_ROW(FC_InitSurf, kCategoryIacl),
    KIV_CODE_ROW(FC_HotspareCfgStatus, kCategoryIacl),
    KIV_CODE_ROW(FC_HotsparePoolList, kCategoryIacl),
    KIV_CODE_ROW(FC_HotsparePoolView, kCategoryIacl),
    KIV_CODE_ROW(FC_ReadArrayHotspareParams, kCategoryIacl),
    KIV_CODE_ROW(FC_WriteArrayHotspareParams, kCategoryIacl),
    KIV_CODE_ROW(FC_DeconfigureDisk, kCategoryIacl),
    KIV_CODE_ROW(FC_CoupleArray, kCategoryIacl),
    KIV_CODE_ROW(FC_UncoupleArray, kCategoryIacl),
    KIV_CODE_ROW(FC_ReadUncoupledMetaData, kCategoryIacl),
    KIV_CODE_ROW(FC_CoupleCompCandCount, kCategoryIacl),
    KIV_CODE_ROW(FC_CoupleCompCandList, kCategoryIacl),
    KIV_CODE_ROW(FC_CoupleResrcCandCount, kCategoryIacl),
    KIV_CODE_ROW(FC_CoupleResrcCandList, kCategoryIacl),
    KIV_CODE_ROW(FC_CoupleArrayComponentView, kCategoryIacl),
    KIV_CODE_ROW(FC_WriteUncoupledMetaData, kCategoryIacl),
    KIV_CODE_ROW(FC_ResrcStatistics, kCategoryIacl),
    KIV_CODE_ROW(FC_ComponentStatistics, kCategoryIacl),
    KIV_CODE_ROW(FC_AllResrcList, kCategoryIacl),
    KIV_CODE_ROW(FC_AllResrcView, kCategoryIacl),
    KIV_CODE_ROW(FC_Trigger, kCategoryIacl),
    KIV_CODE_ROW(FC_CandidateCountAll, kCategoryIacl),
    KIV_CODE_ROW(FC_CandidateListAll, kCategoryIacl),
    KIV_CODE_ROW(FC_CompExchCandCountAll, kCategoryIacl),
    KIV_CODE_ROW(FC_CompExchCandListAll, kCategoryIacl),
    KIV_CODE_ROW(FC_CoupleCompCandCountAll, kCategoryIacl),
    KIV_CODE_ROW(FC_CoupleCompCandListAll, kCategoryIacl),
    KIV_CODE_ROW(FC_CoupleResrcCandCountAll, kCategoryIacl),
    KIV_CODE_ROW(FC_CoupleResrcCandListAll, kCategoryIacl),
    KIV_CODE_ROW(FC_AllComponentView, kCategoryIacl),
    KIV_CODE_ROW(FC_AllHotsparePoolView, kCategoryIacl),
    KIV_CODE_ROW(FC_RebuildParity, kCategoryIacl),
    KIV_CODE_ROW(FN_IACL_Command, kCategoryIacl),
    KIV_CODE_ROW(FN_IACL_Register, kCategoryIacl),
    KIV_CODE_ROW(FN_IACL_Unregister, kCategoryIacl),
    KIV_CODE_ROW(FN_IACL_RequestLock, kCategoryIacl),
    KIV_CODE_ROW(FN_IACL_QueryLock, kCategoryIacl),
    KIV_CODE_ROW(FN_IACL_ReleaseLock, kCategoryIacl),
    KIV_CODE_ROW(FN_IACL_QueryVersion, kCategoryIacl),
    KIV_CODE_ROW(FN_IACL_ChangeVersion, kCategoryIacl),
    // Transaction numbers of the other services.
    KIV_CODE_ROW(FN_DBG_LiveDump, kCategoryTransaction),
    KIV_CODE_ROW(FN_REGY_ServiceList, kCategoryTransaction),
    KIV_CODE_ROW(FN_REGY_ConnectForNodeChange, kCategoryTransaction),
    KIV_CODE_ROW(FN_REGY_DiscForNodeChange, kCategoryTransaction),
    KIV_CODE_ROW(FN_REGY_NodeChangeToRegistry, kCategoryTransaction),
    KIV_CODE_ROW(FN_REGY_NodeChangeFromRegistry, kCategoryTransaction),
    KIV_CODE_ROW(FN_REGY_ConnectForErrorLogging, kCategoryTransaction),
    KIV_CODE_ROW(FN_REGY_DiscForErrorLogging, kCategoryTransaction),
    KIV_CODE_ROW(FN_REGY_LogErrorToRegistry, kCategoryTransaction),
    KIV_CODE_ROW(FN_REGY_LogErrorFromRegistry, kCategoryTransaction),
    KIV_CODE_ROW(FN_REGY_ConnectForResrcChange, kCategoryTransaction),
    KIV_CODE_ROW(FN_REGY_DiscForResrcChange, kCategoryTransaction),
    KIV_CODE_ROW(FN_REGY_ResrcChangeToRegistry, kCategoryTransaction),
    KIV_CODE_ROW(FN_REGY_ResrcChangeFromRegistry, kCategoryTransaction),
    KIV_CODE_ROW(FN_REGY_ResrcList, kCategoryTransaction),
    KIV_CODE_ROW(FN_REGY_GetTempResrcID, kCategoryTransaction),
    KIV_CODE_ROW(FN_REGY_ConnectForHealthCheck, kCategoryTransaction),
    KIV_CODE_ROW(FN_REGY_DiscForHealthCheck, kCategoryTransaction),
    KIV_CODE_ROW(FN_REGY_HealthCheckToRegistry, kCategoryTransaction),
    KIV_CODE_ROW(FN_REGY_HealthCheckFromRegistry, kCategoryTransaction),
    KIV_CODE_ROW(FN_REGY_SerialNumberSearch, kCategoryTransaction),
    KIV_CODE_ROW(FN_REGY_TestResrcsReady, kCategoryTransaction),
    KIV_CODE_ROW(FN_REGY_SetClusterNumber, kCategoryTransaction),
    KIV_CODE_ROW(FN_REGY_TestOneResrcReady, kCategoryTransaction),
    KIV_CODE_ROW(FN_REGY_SyncHCheckToRegy, kCategoryTransaction),
    KIV_CODE_ROW(FN_REGY_SyncHCheckFromRegy, kCategoryTransaction),
    KIV_CODE_ROW(FN_REGY_ResetErrorToRegistry, kCategoryTransaction),
    KIV_CODE_ROW(FN_REGY_ResetErrorFromRegistry, kCategoryTransaction),
    KIV_CODE_ROW(FN_ISALMgr_Inquiry, kCategoryTransaction),
    KIV_CODE_ROW(FN_ISALMgr_HardwareInquiry, kCategoryTransaction),
    KIV_CODE_ROW(FN_ISALMgr_SetOwningModuleType, kCategoryTransaction),
    KIV_CODE_ROW(FN_ISALMgr_AssignManualResrcID, kCategoryTransaction),
    KIV_CODE_ROW(FN_ISALMgr_GetPhysicalResrcIDs, kCategoryTransaction),
    KIV_CODE_ROW(FN_ISALMgr_TestResrcsReady, kCategoryTransaction),
    KIV_CODE_ROW(FN_ISALMgr_VPDInquiry, kCategoryTransaction),
    KIV_CODE_ROW(FN_ISALMgr_Characteristics, kCategoryTransaction),
    KIV_CODE_ROW(FN_ISALMgr_Statistics, kCategoryTransaction),
    KIV_CODE_ROW(FN_ISALMgr_FlashIndicator, kCategoryTransaction),
    KIV_CODE_ROW(FN_ISALMgr_Open, kCategoryTransaction),
    KIV_CODE_ROW(FN_ISAL_Close, kCategoryTransaction),
    KIV_CODE_ROW(FN_ISAL_Read, kCategoryTransaction),
    KIV_CODE_ROW(FN_ISAL_Write, kCategoryTransaction),
    KIV_CODE_ROW(FN_ISAL_Format, kCategoryTransaction),
    KIV_CODE_ROW(FN_ISAL_Progress, kCategoryTransaction),
    KIV_CODE_ROW(FN_ISAL_Lock, kCategoryTransaction),
    KIV_CODE_ROW(FN_ISAL_Unlock, kCategoryTransaction),
    KIV_CODE_ROW(FN_ISAL_Test, kCategoryTransaction),
    KIV_CODE_ROW(FN_ISAL_SCSI, kCategoryTransaction),
    KIV_CODE_ROW(FN_ISAL_Download, kCategoryTransaction),
    KIV_CODE_ROW(FN_ISAL_Fence, kCategoryTransaction),
    KIV_CODE_ROW(FN_ISALMgr_TestOneResrcReady, kCategoryTransaction),
    KIV_CODE_ROW(FN_ISALMgr_GetPhysSvcAndRIDs, kCategoryTransaction),
    KIV_CODE_ROW(FN_ISALMgr_ServiceMode, kCategoryTransaction),
    KIV_CODE_ROW(FN_ISALMgr_NetworkInquiry, kCategoryTransaction),
    KIV_CODE_ROW(FN_ISALMgr_Preferences, kCategoryTransaction),
    KIV_CODE_ROW(FN_ISAL_Flush, kCategoryTransaction),
    KIV_CODE_ROW(FN_ISALMgr_LockQuery, kCategoryTransaction),
    KIV_CODE_ROW(FN_ISAL_InitSurf, kCategoryTransaction),
    KIV_CODE_ROW(FN_ISAL_Read64, kCategoryTransaction),
    KIV_CODE_ROW(FN_ISAL_Write64, kCategoryTransaction),
    KIV_CODE_ROW(FN_ISALMgr_Characteristics64, kCategoryTransaction),
    KIV_CODE_ROW(FN_ISAL_FlushExtent, kCategoryTransaction),
    KIV_CODE_ROW(FN_ADAP_Control, kCategoryTransaction),
    KIV_CODE_ROW(FN_ADAP_TransferFromHost, kCategoryTransaction),
    KIV_CODE_ROW(FN_ADAP_TransferToHost, kCategoryTransaction),
    KIV_CODE_ROW(FN_ADAP_GetFCLoopMap, kCategoryTransaction),
    KIV_CODE_ROW(FN_ADAP_TargetTransfer, kCategoryTransaction),
    KIV_CODE_ROW(FN_ADAP_ConnectForHostTransfer, kCategoryTransaction),
    KIV_CODE_ROW(FN_ADAP_DiscForHostTransfer, kCategoryTransaction),
    KIV_CODE_ROW(FN_ADAP_GetClusterNumber, kCategoryTransaction),
    KIV_CODE_ROW(FN_ADAP_QueryFCNode, kCategoryTransaction),
    KIV_CODE_ROW(FN_ADAP_GetWWNs, kCategoryTransaction),
    KIV_CODE_ROW(FN_ADAP_ForceBypass, kCategoryTransaction),
    KIV_CODE_ROW(FN_ADAP_AdapterHealthCheck, kCategoryTransaction),
    KIV_CODE_ROW(FN_ADAP_ResetAll, kCategoryTransaction),
    KIV_CODE_ROW(FN_ADAP_GetStatistics, kCategoryTransaction),
    KIV_CODE_ROW(FN_ADAP_QueryNodes, kCategoryTransaction),
    KIV_CODE_ROW(FN_ADAP_GetAdapterUID, kCategoryTransaction),
    KIV_CODE_ROW(FN_ADAP_SetTime, kCategoryTransaction),
    KIV_CODE_ROW(FN_ADAP_ServiceMode, kCategoryTransaction),
    KIV_CODE_ROW(FN_ADAP_GetMasterPriority, kCategoryTransaction),
    KIV_CODE_ROW(FN_ADAP_GetSupportLevel, kCategoryTransaction),
    KIV_CODE_ROW(FN_ADAP_QueryPort, kCategoryTransaction),
    KIV_CODE_ROW(FN_ADAP_ForceWrap, kCategoryTransaction),
    KIV_CODE_ROW(FN_PROXY_GetEvent, kCategoryTransaction),
    KIV_CODE_ROW(FN_PROXY_PutEvent, kCategoryTransaction),
    KIV_CODE_ROW(FN_PROXY_GetSeqNum, kCategoryTransaction),
    KIV_CODE_ROW(FN_PROXY_SetNum, kCategoryTransaction),
    KIV_CODE_ROW(FN_PROXY_GetNum, kCategoryTransaction),
    KIV_CODE_ROW(FN_ADAP_GetNVsize, kCategoryTransaction),
    KIV_CODE_ROW(FN_ADAP_ReadNVRAM, kCategoryTransaction),
    KIV_CODE_ROW(FN_ADAP_WriteNVRAM, kCategoryTransaction),
    KIV_CODE_ROW(FN_ADAP_ShutDown, kCategoryTransaction),
    KIV_CODE_ROW(FN_ADAP_QueryNotInSync, kCategoryTransaction),
    KIV_CODE_ROW(FN_ADAP_FlashIndicator, kCategoryTransaction),
    KIV_CODE_ROW(FN_ADAP_Battery, kCategoryTransaction),
    KIV_CODE_ROW(FN_ADAP_DumpDevice, kCategoryTransaction),
    KIV_CODE_ROW(FN_ADAP_SignalEPOW, kCategoryTransaction),
    KIV_CODE_ROW(FN_ADAP_EnablePorts, kCategoryTransaction),
    KIV_CODE_ROW(FN_PEER_SetLabel, kCategoryTransaction),
    KIV_CODE_ROW(FN_PEER_GetLabel, kCategoryTransaction),
    KIV_CODE_ROW(FN_PEER_GetLocalAdapterID, kCategoryTransaction),
    KIV_CODE_ROW(FN_PEER_GetAllAdapterIDs, kCategoryTransaction),
    KIV_CODE_ROW(FN_PEER_ToLocal, kCategoryTransaction),
    KIV_CODE_ROW(FN_PEER_ToRemote, kCategoryTransaction),
    KIV_CODE_ROW(FN_RALS_OpenStream, kCategoryTransaction),
    KIV_CODE_ROW(FN_RALS_CloseStream, kCategoryTransaction),
    KIV_CODE_ROW(FN_RALS_OpenSeg, kCategoryTransaction),
    KIV_CODE_ROW(FN_RALS_CloseSeg, kCategoryTransaction),
    KIV_CODE_ROW(FN_RALS_StageTrack, kCategoryTransaction),
    KIV_CODE_ROW(FN_RALS_ReadSegDir, kCategoryTransaction),
    KIV_CODE_ROW(FN_RALS_DestageFullTracks, kCategoryTransaction),
    KIV_CODE_ROW(FN_RALS_DestageWithPartial, kCategoryTransaction),
    KIV_CODE_ROW(FN_RALS_DestageMultipleExtents, kCategoryTransaction),
    KIV_CODE_ROW(FN_RALS_StreamStatistics, kCategoryTransaction),
    KIV_CODE_ROW(FN_RALS_ResourceStatistics, kCategoryTransaction),
    KIV_CODE_ROW(FN_ADAP_Unslander, kCategoryTransaction),
    kEndOfTable,
};

// Transaction and service number. The FN_RALS_ transactions are left out.
constexpr TwoInputStringRow AdapterServiceTransactionArray[] = {
    // IACL transactions.
    KIV_CODE_ROW(FN_IACL_Command, kSvcIacl),
    KIV_CODE_ROW(FN_IACL_Register, kSvcIacl),
    KIV_CODE_ROW(FN_IACL_Unregister, kSvcIacl),
    KIV_CODE_ROW(FN_IACL_RequestLock, kSvcIacl),
    KIV_CODE_ROW(FN_IACL_QueryLock, kSvcIacl),
    KIV_CODE_ROW(FN_IACL_ReleaseLock, kSvcIacl),
    KIV_CODE_ROW(FN_IACL_QueryVersion, kSvcIacl),
    KIV_CODE_ROW(FN_IACL_ChangeVersion, kSvcIacl),
    // Debug.
    KIV_CODE_ROW(FN_DBG_LiveDump, kSvcDebug),
    // Registry.
    KIV_CODE_ROW(FN_REGY_ServiceList, kSvcRegistry),
    KIV_CODE_ROW(FN_REGY_ConnectForNodeChange, kSvcRegistry),
    KIV_CODE_ROW(FN_REGY_DiscForNodeChange, kSvcRegistry),
    KIV_CODE_ROW(FN_REGY_NodeChangeToRegistry, kSvcRegistry),
    KIV_CODE_ROW(FN_REGY_NodeChangeFromRegistry, kSvcRegistry),
    KIV_CODE_ROW(FN_REGY_ConnectForErrorLogging, kSvcRegistry),
    KIV_CODE_ROW(FN_REGY_DiscForErrorLogging, kSvcRegistry),
    KIV_CODE_ROW(FN_REGY_LogErrorToRegistry, kSvcRegistry),
    KIV_CODE_ROW(FN_REGY_LogErrorFromRegistry, kSvcRegistry),
    KIV_CODE_ROW(FN_REGY_ConnectForResrcChange, kSvcRegistry),
    KIV_CODE_ROW(FN_REGY_DiscForResrcChange, kSvcRegistry),
    KIV_CODE_ROW(FN_REGY_ResrcChangeToRegistry, kSvcRegistry),
    KIV_CODE_ROW(FN_REGY_ResrcChangeFromRegistry, kSvcRegistry),
    KIV_CODE_ROW(FN_REGY_ResrcList, kSvcRegistry),
    KIV_CODE_ROW(FN_REGY_GetTempResrcID, kSvcRegistry),
    KIV_CODE_ROW(FN_REGY_ConnectForHealthCheck, kSvcRegistry),
    KIV_CODE_ROW(FN_REGY_DiscForHealthCheck, kSvcRegistry),
    KIV_CODE_ROW(FN_REGY_HealthCheckToRegistry, kSvcRegistry),
    KIV_CODE_ROW(FN_REGY_HealthCheckFromRegistry, kSvcRegistry),
    KIV_CODE_ROW(FN_REGY_SerialNumberSearch, kSvcRegistry),
    KIV_CODE_ROW(FN_REGY_TestResrcsReady, kSvcRegistry),
    KIV_CODE_ROW(FN_REGY_SetClusterNumber, kSvcRegistry),
    KIV_CODE_ROW(FN_REGY_TestOneResrcReady, kSvcRegistry),
    KIV_CODE_ROW(FN_REGY_SyncHCheckToRegy, kSvcRegistry),
    KIV_CODE_ROW(FN_REGY_SyncHCheckFromRegy, kSvcRegistry),
    KIV_CODE_ROW(FN_REGY_ResetErrorToRegistry, kSvcRegistry),
    KIV_CODE_ROW(FN_REGY_ResetErrorFromRegistry, kSvcRegistry),
    // Adapter.
    KIV_CODE_ROW(FN_ADAP_Control, kSvcAdapter),
    KIV_CODE_ROW(FN_ADAP_TransferFromHost, kSvcAdapter),
    KIV_CODE_ROW(FN_ADAP_TransferToHost, kSvcAdapter),
    KIV_CODE_ROW(FN_ADAP_GetFCLoopMap, kSvcAdapter),
    KIV_CODE_ROW(FN_ADAP_TargetTransfer, kSvcAdapter),
    KIV_CODE_ROW(FN_ADAP_ConnectForHostTransfer, kSvcAdapter),
    KIV_CODE_ROW(FN_ADAP_DiscForHostTransfer, kSvcAdapter),
    KIV_CODE_ROW(FN_ADAP_GetClusterNumber, kSvcAdapter),
    KIV_CODE_ROW(FN_ADAP_QueryFCNode, kSvcAdapter),
    KIV_CODE_ROW(FN_ADAP_GetWWNs, kSvcAdapter),
    KIV_CODE_ROW(FN_ADAP_ForceBypass, kSvcAdapter),
    KIV_CODE_ROW(FN_ADAP_AdapterHealthCheck, kSvcAdapter),
    KIV_CODE_ROW(FN_ADAP_ResetAll, kSvcAdapter),
    KIV_CODE_ROW(FN_ADAP_GetStatistics, kSvcAdapter),
    KIV_CODE_ROW(FN_ADAP_QueryNodes, kSvcAdapter),
    KIV_CODE_ROW(FN_ADAP_GetAdapterUID, kSvcAdapter),
    KIV_CODE_ROW(FN_ADAP_SetTime, kSvcAdapter),
    KIV_CODE_ROW(FN_ADAP_ServiceMode, kSvcAdapter),
    KIV_CODE_ROW(FN_ADAP_GetMasterPriority, kSvcAdapter),
    KIV_CODE_ROW(FN_ADAP_GetSupportLevel, kSvcAdapter),
    KIV_CODE_ROW(FN_ADAP_QueryPort, kSvcAdapter),
    KIV_CODE_ROW(FN_ADAP_ForceWrap, kSvcAdapter),
    KIV_CODE_ROW(FN_ADAP_GetNVsize, kSvcAdapter),
    KIV_CODE_ROW(FN_ADAP_ReadNVRAM, kSvcAdapter),
    KIV_CODE_ROW(FN_ADAP_WriteNVRAM, kSvcAdapter),
    KIV_CODE_ROW(FN_ADAP_ShutDown, kSvcAdapter),
    KIV_CODE_ROW(FN_ADAP_QueryNotInSync, kSvcAdapter),
    KIV_CODE_ROW(FN_ADAP_FlashIndicator, kSvcAdapter),
    KIV_CODE_ROW(FN_ADAP_Battery, kSvcAdapter),
    KIV_CODE_ROW(FN_ADAP_DumpDevice, kSvcAdapter),
    KIV_CODE_ROW(FN_ADAP_SignalEPOW, kSvcAdapter),
    KIV_CODE_ROW(FN_ADAP_EnablePorts, kSvcAdapter),
    // Proxy.
    KIV_CODE_ROW(FN_PROXY_GetEvent, kSvcProxy),
    KIV_CODE_ROW(FN_PROXY_PutEvent, kSvcProxy),
    KIV_CODE_ROW(FN_PROXY_GetSeqNum, kSvcProxy),
    KIV_CODE_ROW(FN_PROXY_SetNum, kSvcProxy),
    KIV_CODE_ROW(FN_PROXY_GetNum, kSvcProxy),
    // Peer.
    KIV_CODE_ROW(FN_PEER_SetLabel, kSvcPeer),
    KIV_CODE_ROW(FN_PEER_GetLabel, kSvcPeer),
    KIV_CODE_ROW(FN_PEER_GetLocalAdapterID, kSvcPeer),
    KIV_CODE_ROW(FN_PEER_GetAllAdapterIDs, kSvcPeer),
    KIV_CODE_ROW(FN_PEER_ToLocal, kSvcPeer),
    KIV_CODE_ROW(FN_PEER_ToRemote, kSvcPeer),
    // Adapter again.
    KIV_CODE_ROW(FN_ADAP_Unslander, kSvcAdapter),
    // ISAL manager, then ISAL.
    KIV_CODE_ROW(FN_ISALMgr_Inquiry, kSvcIsal),
    KIV_CODE_ROW(FN_ISALMgr_HardwareInquiry, kSvcIsal),
    KIV_CODE_ROW(FN_ISALMgr_SetOwningModuleType, kSvcIsal),
    KIV_CODE_ROW(FN_ISALMgr_AssignManualResrcID, kSvcIsal),
    KIV_CODE_ROW(FN_ISALMgr_GetPhysicalResrcIDs, kSvcIsal),
    KIV_CODE_ROW(FN_ISALMgr_TestResrcsReady, kSvcIsal),
    KIV_CODE_ROW(FN_ISALMgr_VPDInquiry, kSvcIsal),
    KIV_CODE_ROW(FN_ISALMgr_Characteristics, kSvcIsal),
    KIV_CODE_ROW(FN_ISALMgr_Statistics, kSvcIsal),
    KIV_CODE_ROW(FN_ISALMgr_FlashIndicator, kSvcIsal),
    KIV_CODE_ROW(FN_ISALMgr_Open, kSvcIsal),
    KIV_CODE_ROW(FN_ISALMgr_TestOneResrcReady, kSvcIsal),
    KIV_CODE_ROW(FN_ISALMgr_GetPhysSvcAndRIDs, kSvcIsal),
    KIV_CODE_ROW(FN_ISALMgr_ServiceMode, kSvcIsal),
    KIV_CODE_ROW(FN_ISALMgr_NetworkInquiry, kSvcIsal),
    KIV_CODE_ROW(FN_ISALMgr_Preferences, kSvcIsal),
    KIV_CODE_ROW(FN_ISALMgr_LockQuery, kSvcIsal),
    KIV_CODE_ROW(FN_ISALMgr_Characteristics64, kSvcIsal),
    KIV_CODE_ROW(FN_ISAL_Close, kSvcIsal),
    KIV_CODE_ROW(FN_ISAL_Read, kSvcIsal),
    KIV_CODE_ROW(FN_ISAL_Write, kSvcIsal),
    KIV_CODE_ROW(FN_ISAL_Format, kSvcIsal),
    KIV_CODE_ROW(FN_ISAL_Progress, kSvcIsal),
    KIV_CODE_ROW(FN_ISAL_Lock, kSvcIsal),
    KIV_CODE_ROW(FN_ISAL_Unlock, kSvcIsal),
    KIV_CODE_ROW(FN_ISAL_Test, kSvcIsal),
    KIV_CODE_ROW(FN_ISAL_SCSI, kSvcIsal),
    KIV_CODE_ROW(FN_ISAL_Download, kSvcIsal),
    KIV_CODE_ROW(FN_ISAL_Fence, kSvcIsal),
    KIV_CODE_ROW(FN_ISAL_Flush, kSvcIsal),
    KIV_CODE_ROW(FN_ISAL_InitSurf, kSvcIsal),
    KIV_CODE_ROW(FN_ISAL_Read64, kSvcIsal),
    KIV_CODE_ROW(FN_ISAL_Write64, kSvcIsal),
    KIV_CODE_ROW(FN_ISAL_FlushExtent, kSvcIsal),
    kEndOfTable,
};

// IACL function codes; Input2 is always 1.
constexpr TwoInputStringRow IaclTransactionArray[] = {
    KIV_CODE_ROW(FC_IACLVersion, 1),
    KIV_CODE_ROW(FC_ResrcCount, 1),
    KIV_CODE_ROW(FC_ResrcList, 1),
    KIV_CODE_ROW(FC_ResrcView, 1),
    KIV_CODE_ROW(FC_CandidateCount, 1),
    KIV_CODE_ROW(FC_CandidateList, 1),
    KIV_CODE_ROW(FC_ResrcCreate, 1),
    KIV_CODE_ROW(FC_ResrcDelete, 1),
    KIV_CODE_ROW(FC_ResrcRename, 1),
    KIV_CODE_ROW(FC_ComponentView, 1),
    KIV_CODE_ROW(FC_ComponentExchange, 1),
    KIV_CODE_ROW(FC_QueryMetaResrcParams, 1),
    KIV_CODE_ROW(FC_ModifyResrcParams, 1),
    KIV_CODE_ROW(FC_FlashIndicator, 1),
    KIV_CODE_ROW(FC_VPDInquiry, 1),
    KIV_CODE_ROW(FC_HardwareInquiry, 1),
    KIV_CODE_ROW(FC_CompExchCandCount, 1),
    KIV_CODE_ROW(FC_CompExchCandList, 1),
    KIV_CODE_ROW(FC_AdapterVPD, 1),
    KIV_CODE_ROW(FC_SyncHealth, 1),
    KIV_CODE_ROW(FC_Wrap, 1),
    KIV_CODE_ROW(FC_Unwrap, 1),
    KIV_CODE_ROW(FC_UnwrapAll, 1),
    KIV_CODE_ROW(FC_Test, 1),
    KIV_CODE_ROW(FC_Format, 1),
    KIV_CODE_ROW(FC_Certify, 1),
    KIV_CODE_ROW(FC_Read, 1),
    KIV_CODE_ROW(FC_Write, 1),
    KIV_CODE_ROW(FC_AdapterSN, 1),
    KIV_CODE_ROW(FC_CacheFormat, 1),
    KIV_CODE_ROW(FC_InitSurf, 1),
    KIV_CODE_ROW(FC_HotspareCfgStatus, 1),
    KIV_CODE_ROW(FC_HotsparePoolList, 1),
    KIV_CODE_ROW(FC_HotsparePoolView, 1),
    KIV_CODE_ROW(FC_ReadArrayHotspareParams, 1),
    KIV_CODE_ROW(FC_WriteArrayHotspareParams, 1),
    KIV_CODE_ROW(FC_DeconfigureDisk, 1),
    KIV_CODE_ROW(FC_CoupleArray, 1),
    KIV_CODE_ROW(FC_UncoupleArray, 1),
    KIV_CODE_ROW(FC_ReadUncoupledMetaData, 1),
    KIV_CODE_ROW(FC_CoupleCompCandCount, 1),
    KIV_CODE_ROW(FC_CoupleCompCandList, 1),
    KIV_CODE_ROW(FC_CoupleResrcCandCount, 1),
    KIV_CODE_ROW(FC_CoupleResrcCandList, 1),
    KIV_CODE_ROW(FC_CoupleArrayComponentView, 1),
    KIV_CODE_ROW(FC_WriteUncoupledMetaData, 1),
    KIV_CODE_ROW(FC_ResrcStatistics, 1),
    KIV_CODE_ROW(FC_ComponentStatistics, 1),
    KIV_CODE_ROW(FC_AllResrcList, 1),
    KIV_CODE_ROW(FC_AllResrcView, 1),
    KIV_CODE_ROW(FC_Trigger, 1),
    KIV_CODE_ROW(FC_CandidateCountAll, 1),
    KIV_CODE_ROW(FC_CandidateListAll, 1),
    KIV_CODE_ROW(FC_CompExchCandCountAll, 1),
    KIV_CODE_ROW(FC_CompExchCandListAll, 1),
    KIV_CODE_ROW(FC_CoupleCompCandCountAll, 1),
    KIV_CODE_ROW(FC_CoupleCompCandListAll, 1),
    KIV_CODE_ROW(FC_CoupleResrcCandCountAll, 1),
    KIV_CODE_ROW(FC_CoupleResrcCandListAll, 1),
    KIV_CODE_ROW(FC_AllComponentView, 1),
    KIV_CODE_ROW(FC_AllHotsparePoolView, 1),
    KIV_CODE_ROW(FC_RebuildParity, 1),
    kEndOfTable,
};

#undef KIV_CODE_ROW

// The SES diagnostic pages with a public name, by code, and the short
// names an engineer types for them. Page 2 is read as Enclosure Status and
// sent as Enclosure Control, so both of its short names are taken.
constexpr SesPageNameRow SesPageNames[] = {
    {0x00, "Supported Diagnostic Pages", "sdp", nullptr},
    {0x01, "Configuration", "cf", nullptr},
    {0x02, "Enclosure Control/Status", "ec", "es"},
    {0x03, "Help Text", "ht", nullptr},
    {0x04, "String Out/In", "str", nullptr},
    {0x05, "Threshold Out/In", "th", nullptr},
    {0x06, "Array Control/Status", "ac", nullptr},
    {0x07, "Element Descriptor", "ed", nullptr},
    {0x08, "Short Enclosure Status", "ses", nullptr},
    {0x09, "Enclosure Busy", "eb", nullptr},
    {0x0A, "Additional Element Status", "aes", nullptr},
    {0x0B, "Subenclosure Help Text", "sht", nullptr},
    {0x0C, "Subenclosure String Out/In", "sstr", nullptr},
    {0x0D, "Supported SES Diagnostic Pages", "ssp", nullptr},
    {0x0E, "Download Microcode Control/Status", "dm", nullptr},
    {0x0F, "Subenclosure Nickname Control/Status", "snic", nullptr},
};

// ---- Shape of the tables, checked at compile time ----

constexpr std::size_t textLength(const char* s) {
  std::size_t n = 0;
  while (s[n] != '\0') ++n;
  return n;
}

constexpr bool sameText(const char* a, const char* b) {
  std::size_t i = 0;
  for (; a[i] != '\0' && a[i] == b[i]; ++i) {
  }
  return a[i] == b[i];
}

// The terminator is the last row and the only one with Input2 5.
template <std::size_t N>
constexpr bool terminatedOnce(const TwoInputStringRow (&t)[N]) {
  for (std::size_t i = 0; i + 1 < N; ++i) {
    if (t[i].Input2 == kEndOfTableInput2) return false;
  }
  const TwoInputStringRow& last = t[N - 1];
  return last.Input1 == kEndOfTableInput1 && last.Input2 == kEndOfTableInput2 && sameText(last.Name, "endoftable");
}

template <std::size_t N>
constexpr bool pairsUnique(const TwoInputStringRow (&t)[N]) {
  for (std::size_t i = 0; i < N; ++i) {
    for (std::size_t j = i + 1; j < N; ++j) {
      if (t[i].Input1 == t[j].Input1 && t[i].Input2 == t[j].Input2) return false;
    }
  }
  return true;
}

template <std::size_t N>
constexpr std::size_t rowsWith(const TwoInputStringRow (&t)[N], std::int32_t input2) {
  std::size_t n = 0;
  for (std::size_t i = 0; i + 1 < N; ++i) n += t[i].Input2 == input2 ? 1 : 0;
  return n;
}

// The name a value has in one category of ValueToString, or nullptr.
constexpr const char* valueName(std::int32_t value, std::int32_t category) {
  for (const TwoInputStringRow& r : ValueToString) {
    if (r.Input1 == value && r.Input2 == category) return r.Name;
  }
  return nullptr;
}

// Each transaction carries the name it has in ValueToString: category 3 for
// the IACL service, category 4 for the others.
constexpr bool serviceNamesAgree() {
  for (std::size_t i = 0; i + 1 < std::size(AdapterServiceTransactionArray); ++i) {
    const TwoInputStringRow& r = AdapterServiceTransactionArray[i];
    const char* n = valueName(r.Input1, r.Input2 == kSvcIacl ? kCategoryIacl : kCategoryTransaction);
    if (n == nullptr || !sameText(n, r.Name)) return false;
  }
  return true;
}

constexpr bool iaclCodesAscendAndAgree() {
  for (std::size_t i = 0; i + 1 < std::size(IaclTransactionArray); ++i) {
    const TwoInputStringRow& r = IaclTransactionArray[i];
    const char* n = valueName(r.Input1, kCategoryIacl);
    if (r.Input1 != static_cast<std::int32_t>(i + 1) || r.Input2 != 1 || n == nullptr || !sameText(n, r.Name)) {
      return false;
    }
  }
  return true;
}

template <std::size_t N>
constexpr std::size_t longestName(const TwoInputStringRow (&t)[N]) {
  std::size_t longest = 0;
  for (std::size_t i = 0; i + 1 < N; ++i) longest = textLength(t[i].Name) > longest ? textLength(t[i].Name) : longest;
  return longest;
}

// Length of the longest any-category result: all names of one Input1 joined.
template <std::size_t N>
constexpr std::size_t longestJoin(const TwoInputStringRow (&t)[N]) {
  std::size_t longest = 0;
  for (std::size_t i = 0; i + 1 < N; ++i) {
    std::size_t len = 0;
    std::size_t names = 0;
    for (std::size_t j = 0; j + 1 < N; ++j) {
      if (t[j].Input1 == t[i].Input1) {
        len += textLength(t[j].Name);
        ++names;
      }
    }
    len += names - 1;
    longest = len > longest ? len : longest;
  }
  return longest;
}

static_assert(std::size(ValueToString) == 427 + 1);
static_assert(rowsWith(ValueToString, kCategoryAdapterResult) == 186);
static_assert(rowsWith(ValueToString, kCategoryDirectiveStatus) == 54);
static_assert(rowsWith(ValueToString, kCategoryIacl) == 70);
static_assert(rowsWith(ValueToString, kCategoryTransaction) == 117);
static_assert(terminatedOnce(ValueToString));
static_assert(pairsUnique(ValueToString));

static_assert(std::size(AdapterServiceTransactionArray) == 114 + 1);
static_assert(rowsWith(AdapterServiceTransactionArray, kSvcIacl) == 8);
static_assert(rowsWith(AdapterServiceTransactionArray, kSvcDebug) == 1);
static_assert(rowsWith(AdapterServiceTransactionArray, kSvcRegistry) == 27);
static_assert(rowsWith(AdapterServiceTransactionArray, kSvcAdapter) == 32 + 1);
static_assert(rowsWith(AdapterServiceTransactionArray, kSvcProxy) == 5);
static_assert(rowsWith(AdapterServiceTransactionArray, kSvcPeer) == 6);
static_assert(rowsWith(AdapterServiceTransactionArray, kSvcIsal) == 18 + 16);
static_assert(terminatedOnce(AdapterServiceTransactionArray));
static_assert(pairsUnique(AdapterServiceTransactionArray));
static_assert(serviceNamesAgree());

static_assert(std::size(IaclTransactionArray) == 62 + 1);
static_assert(terminatedOnce(IaclTransactionArray));
static_assert(pairsUnique(IaclTransactionArray));
static_assert(iaclCodesAscendAndAgree());

// Far below the 255 characters of the result buffer.
static_assert(longestName(ValueToString) == 33);
static_assert(longestJoin(ValueToString) == 54);
static_assert(longestJoin(AdapterServiceTransactionArray) <= 54);
static_assert(longestJoin(IaclTransactionArray) <= 33);

// One row per code from 0 up, no short name taken twice.
constexpr bool sesPagesInOrderAndNamedOnce() {
  const char* names[2 * std::size(SesPageNames)] = {};
  std::size_t n = 0;
  for (std::size_t i = 0; i < std::size(SesPageNames); ++i) {
    if (SesPageNames[i].code != i) return false;
    names[n++] = SesPageNames[i].shortName;
    if (SesPageNames[i].alias != nullptr) names[n++] = SesPageNames[i].alias;
  }
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = i + 1; j < n; ++j) {
      if (sameText(names[i], names[j])) return false;
    }
  }
  return true;
}
static_assert(std::size(SesPageNames) == 16 && sesPagesInOrderAndNamedOnce());

}  // namespace

std::span<const TwoInputStringRow> KIV_ValueToStringTable() { return ValueToString; }
std::span<const TwoInputStringRow> KIV_AdapterServiceTransactionTable() { return AdapterServiceTransactionArray; }
std::span<const TwoInputStringRow> KIV_IaclTransactionTable() { return IaclTransactionArray; }
std::span<const SesPageNameRow> KIV_SesPageNameTable() { return SesPageNames; }
