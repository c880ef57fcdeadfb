target_sources(corvane_core PRIVATE
  core/ExportProgress.h
  core/Failure.h core/Failure.cpp
  core/GridSource.h
  core/Wait.h core/Wait.cpp
)
