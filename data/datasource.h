// A data source links a dataset to the controls bound to it. A change typed into a bound control first
// puts the dataset into edit state when autoEdit is on, as every data source of the program has it.
#pragma once

#include "data/dataset.h"

class DataSource {
public:
    explicit DataSource(Dataset& dataset) : dataset_(&dataset) {}
    Dataset& dataset() const { return *dataset_; }
    bool autoEdit() const { return autoEdit_; }
    void setAutoEdit(bool on) { autoEdit_ = on; }

private:
    Dataset* dataset_;
    bool autoEdit_ = true;
};
