target_sources(corvane_import PRIVATE
  import/ImportRecord.h
  import/DelimitedFormat.h import/DelimitedFormat.cpp
  import/DelimitedReader.h import/DelimitedReader.cpp
  import/XlsxXml.h import/XlsxXml.cpp
  import/XlsxReader.h import/XlsxReader.cpp
  import/ValueCheck.h import/ValueCheck.cpp
  import/ImportSettings.h import/ImportSettings.cpp
  import/ImportJob.h import/ImportJob.cpp
)
