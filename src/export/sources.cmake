target_sources(corvane PRIVATE
  export/GridSource.h
  export/DataGrid1.h export/DataGrid1.cpp
)
include(export/printing.cmake OPTIONAL)
