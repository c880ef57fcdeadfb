target_sources(corvane_frame PRIVATE
  frame/Desktop.h frame/QtDesktop.h frame/QtDesktop.cpp
  frame/ExternalEdit.h frame/ExternalEdit.cpp
  frame/Locations.h
  frame/Trap.h frame/Trap.cpp
  frame/Main.h frame/Main.cpp
  frame/PagePointer.h frame/PagePointer.cpp
  frame/SettingsStore.h frame/SettingsStore.cpp
  frame/ProgressDialog.h frame/ProgressDialog.cpp
  frame/Services.h
  frame/HeldInput.h frame/HeldInput.cpp
  frame/KeptConnection.h frame/KeptConnection.cpp
  frame/AskPass.h frame/AskPass.cpp
  frame/DelayedProgress.h frame/DelayedProgress.cpp
)
