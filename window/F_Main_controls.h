// Every named control of the main window, for the member references of
// TFrm_Main (so that code names them as `btnPause`, checked by the compiler).
// The layout itself is in F_Main_layout.cpp.
#pragma once

#define CORVANE_MAIN_CONTROLS(X)                                                                          \
  /* skinned title bar */                                                                                 \
  X(mlTitleBar) X(mlIcon) X(mlTitle) X(btnClose) X(btnMin) X(btnMenu)                                     \
  /* home */                                                                                              \
  X(PnlHome) X(Pnl_Img_PnlHome_Logo) X(lbl_PnlHome_Title1) X(lbl_PnlHome_Title2) X(btnStart)              \
  X(lbl_PnlHome_Title3)                                                                                   \
  /* check progress */                                                                                    \
  X(PnlCheckProgress) X(imgCheck) X(lbl_PnlCheckProgress_Info)                                            \
  /* check result */                                                                                      \
  X(PnlCheckHrd) X(mlPnlCheckBar) X(Pnl_PnlCheckHrd_Logo) X(lbl_PnlCheckHrd_Title1) X(btnCheck2Next)      \
  X(Pnl_PnlCheckHrd_CPU) X(lbl_PnlCheckHrd_CPU) X(lbl_PnlCheckHrd_CPUState) X(Pnl_PnlCheckHrd_CPUState)   \
  X(Pnl_PnlCheckHrd_Mem) X(lbl_PnlCheckHrd_Mem) X(lbl_PnlCheckHrd_MemState) X(Pnl_PnlCheckHrd_MemState)   \
  X(Pnl_PnlCheckHrd_SysDiskSize) X(lbl_PnlCheckHrd_SysDiskSize) X(lbl_PnlCheckHrd_SysDiskSizeState)       \
  X(Pnl_PnlCheckHrd_SysDiskSizeState)                                                                     \
  X(Pnl_PnlCheckHrd_Net) X(lbl_PnlCheckHrd_Net) X(lbl_PnlCheckHrd_NetState) X(Pnl_PnlCheckHrd_NetState)   \
  X(Pnl_PnlCheckHrd_DownDiskSize) X(lbl_PnlCheckHrd_DownDiskSize) X(lbl_PnlCheckHrd_DownDiskSizeState)    \
  X(Pnl_PnlCheckHrd_DownDiskSizeState)                                                                    \
  /* backup choice */                                                                                     \
  X(PnlBackup) X(PnlBackupBar) X(Pnl_PnlBackup_Logo) X(lblBackupTitle1) X(lblBackupTitle2)                \
  X(Pnl_PnlBackup_MyDoc) X(Pnl_PnlBackup_Desktop) X(Pnl_PnlBackup_IEFav) X(Pnl_PnlBackup_ADSL)            \
  X(chkBakMyDoc) X(chkBakDesktop) X(chkBakIEFav) X(chkBakADSL) X(btnStartBak)                             \
  /* backup progress */                                                                                   \
  X(PnlBackupInfo) X(Image12) X(lblBackupInfo) X(pbBackup) X(btnCancelBackup)                             \
  /* download */                                                                                          \
  X(PnlDownload) X(mlPnlDownloadBar) X(Image14) X(MlSkinLabel1) X(Image13) X(lblDownLoadInfo)             \
  X(pbDownLoad) X(btnPause) X(btnCancel)                                                                  \
  /* install */                                                                                           \
  X(PnlInstall) X(PnlInstallBar) X(Image2) X(MlSkinLabel2) X(MlSkinPanel1) X(lblInstallInfo) X(btnInstall) \
  /* self-update */                                                                                       \
  X(PnlUpdate) X(PnlUpdateBar) X(MlSkinPanel4) X(MlSkinLabel3) X(PnlUpdateImg) X(lblUpdateInfo)           \
  X(pbUpdate)                                                                                             \
  /* footer */                                                                                            \
  X(PnlFoot) X(swBtnAuto) X(lbl_PnlFoot_Title1) X(lblQQqun)
