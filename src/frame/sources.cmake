target_sources(corvane PRIVATE
  frame/Desktop.h frame/QtDesktop.h frame/QtDesktop.cpp
  frame/Failure.h frame/Locations.h
  frame/Trap.h frame/Trap.cpp
  frame/Main.h frame/Main.cpp
  frame/PagePointer.h frame/PagePointer.cpp
  frame/SettingsStore.h frame/SettingsStore.cpp
  frame/Services.h
)
