target_sources(corvane PRIVATE
  export/GridSource.h
)
