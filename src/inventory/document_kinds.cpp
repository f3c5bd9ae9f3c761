#include "inventory/document_kinds.h"

#include <array>
#include <string>

#include "formats/errors.h"

namespace quelvar::inventory {

namespace {

using B = BindFrom;

// Orders (T10_PED1 / T11_PED2).
constexpr std::array<Binding, 5> kOrderUpdate = {{{B::Integer, "T10_NumFornec"},
                                                  {B::Date, "T10_Data"},
                                                  {B::Text, "T10_Obs1"},
                                                  {B::Text, "T10_Obs2"},
                                                  {B::DocumentNumber}}};
constexpr std::array<Binding, 4> kOrderInsert = {
    {{B::Integer, "T10_NumFornec"}, {B::Date, "T10_Data"}, {B::Text, "T10_Obs1"}, {B::Text, "T10_Obs2"}}};
constexpr std::array<Binding, 4> kOrderItem = {
    {{B::DocumentNumber}, {B::Integer, "T11_NumMaterial"}, {B::Real, "T11_Qtd"}, {B::Real, "T11_Valor"}}};

// Entries (T12_ENT1 / T13_ENT2).
constexpr std::array<Binding, 6> kEntryUpdate = {{{B::Integer, "T12_NumFornec"},
                                                  {B::Date, "T12_Data"},
                                                  {B::Text, "T12_Obs1"},
                                                  {B::Text, "T12_Obs2"},
                                                  {B::Text, "T12_NF"},
                                                  {B::DocumentNumber}}};
constexpr std::array<Binding, 6> kEntryInsert = {{{B::Integer, "T12_NumFornec"},
                                                  {B::Integer, "T12_NumPedido"},
                                                  {B::Date, "T12_Data"},
                                                  {B::Text, "T12_NF"},
                                                  {B::Text, "T12_Obs1"},
                                                  {B::Text, "T12_Obs2"}}};
constexpr std::array<Binding, 4> kEntryItem = {
    {{B::DocumentNumber}, {B::ResolvedLot}, {B::Real, "T13_Qtd"}, {B::Real, "T13_Valor"}}};

// Requisitions (T14_REQ1 / T15_REQ2).
constexpr std::array<Binding, 5> kRequisitionUpdate = {{{B::Integer, "T14_NumUsuario"},
                                                        {B::Date, "T14_Data"},
                                                        {B::Text, "T14_Obs1"},
                                                        {B::Text, "T14_Obs2"},
                                                        {B::DocumentNumber}}};
constexpr std::array<Binding, 4> kRequisitionInsert = {
    {{B::Integer, "T14_NumUsuario"}, {B::Date, "T14_Data"}, {B::Text, "T14_Obs1"}, {B::Text, "T14_Obs2"}}};
constexpr std::array<Binding, 3> kRequisitionItem = {
    {{B::DocumentNumber}, {B::Integer, "T15_NumMaterial"}, {B::Real, "T15_Qtd"}}};

// Outputs (T16_SAI1 / T17_SAI2).
constexpr std::array<Binding, 6> kOutputUpdate = {{{B::Integer, "T16_NumCC"},
                                                   {B::Date, "T16_Data"},
                                                   {B::Text, "T16_Obs1"},
                                                   {B::Text, "T16_Obs2"},
                                                   {B::Text, "T16_NF"},
                                                   {B::DocumentNumber}}};
constexpr std::array<Binding, 7> kOutputInsert = {{{B::Integer, "T16_NumCC"},
                                                   {B::Integer, "T16_NumRequis"},
                                                   {B::Date, "T16_Data"},
                                                   {B::Text, "T16_NF"},
                                                   {B::Integer, "T16_NumUsuario"},
                                                   {B::Text, "T16_Obs1"},
                                                   {B::Text, "T16_Obs2"}}};
constexpr std::array<Binding, 3> kOutputItem = {
    {{B::DocumentNumber}, {B::Integer, "T17_NumLote"}, {B::Real, "T17_Qtd"}}};

// Losses (T18_PER1 / T19_PER2).
constexpr std::array<Binding, 4> kLossUpdate = {
    {{B::Date, "T18_Data"}, {B::Text, "T18_Obs1"}, {B::Text, "T18_Obs2"}, {B::DocumentNumber}}};
constexpr std::array<Binding, 3> kLossInsert = {{{B::Date, "T18_Data"}, {B::Text, "T18_Obs1"}, {B::Text, "T18_Obs2"}}};
constexpr std::array<Binding, 3> kLossItem = {{{B::DocumentNumber}, {B::Integer, "T19_NumLote"}, {B::Real, "T19_Qtd"}}};

// The user condition of the output lists: an output of user 0 is listed once,
// with an empty user name, rather than once per registered user.
#define QUELVAR_OUTPUT_USER_JOIN                                                     \
  "Left Join T01_USUA On T16_NumUsuario = T01_NumUsuario and T16_NumUsuario <> 0 "
#define QUELVAR_OUTPUT_USER_CONDITION "and (T16_NumUsuario = 0 or T01_NumUsuario is not Null) "

const std::array<DocumentKind, 5> kKinds = {{
    {
        .group = "DWServerEventsT10_PEDI",
        .deleteFlag = 10,
        .listWithItemsOption = "MasterDetPedido",
        .headerListOption = "MasterPedido",
        .itemListOption = "DetailPedido",
        .saveOption = "GravaPedido",
        .listWithItemsStatement =
            "Select T10_NumPedido, T10_NumFornec, T10_Data, T10_VirouEntrada, T10_Obs1, T10_Obs2, T11_NumMaterial, "
            "T11_Qtd, T11_Valor, (T11_Qtd * T11_Valor) as T11_Total, T08_Fornecedor, T04_Unidade, T04_Material "
            "From T10_PED1,T11_PED2,T08_FORN,T04_MATE Where T10_Exclusao is Null and T10_VirouEntrada is Null and "
            "T10_NumPedido = T11_NumPedido and T10_NumFornec = T08_NumFornec and T11_NumMaterial = T04_NumMaterial ",
        .headerListStatement =
            "Select T10_NumPedido, T10_NumFornec, T10_Data, T10_VirouEntrada, T10_Obs1, T10_Obs2, T08_Fornecedor "
            "From T10_PED1, T08_FORN Where T10_Exclusao is Null and T10_VirouEntrada is Null and "
            "T10_NumFornec = T08_NumFornec ",
        .dateFromCondition = "and T10_Data >= :p00 ",
        .dateToCondition = "and T10_Data <= :p01 ",
        .textCondition = "and T08_Fornecedor like :p02 ",
        .numberCondition = "and T10_NumPedido = :p02 ",
        .sortKey = "T10_Data;T08_Fornecedor",
        .itemListStatement = "Select T11_NumPedido, T11_NumMaterial, T11_Qtd, T11_Valor, (T11_Qtd * T11_Valor) as "
                             "T11_Total, T04_Material From T11_PED2, T04_MATE Where T11_NumPedido = :p00 and "
                             "T11_NumMaterial = T04_NumMaterial",
        .headerNumberField = "T10_NumPedido",
        .headerUpdate = "Update T10_PED1 Set T10_NumFornec = :p00, T10_Data = :p01, T10_Obs1 = :p02, T10_Obs2 = :p03 "
                        "Where T10_NumPedido = :p04",
        .headerUpdateBindings = kOrderUpdate,
        .headerInsert =
            "Insert into T10_PED1 (T10_NumFornec, T10_Data, T10_Obs1, T10_Obs2) Values (:p00, :p01, :p02, :p03)",
        .headerInsertBindings = kOrderInsert,
        .itemDelete = "Delete From T11_PED2 Where T11_NumPedido = :p00",
        .highestItemNumber = "Select Coalesce(Max(T11_NumPedido), 0) as qMaiorNumero From T11_PED2",
        .headerRenumber = "Update T10_PED1 Set T10_NumPedido = :p00 Where T10_NumPedido = :p01",
        .itemInsert = "Insert into T11_PED2 (T11_NumPedido, T11_NumMaterial, T11_Qtd, T11_Valor) Values (:p00, :p01, "
                      ":p02, :p03)",
        .itemInsertBindings = kOrderItem,
        .itemsNameLots = false,
        .followUp = {},
        .headerDeletion =
            "Update T10_PED1 Set T10_Exclusao = :p00, T10_ExcluidoPor = :p01 Where T10_NumPedido = :p02",
        .itemDeletion = "",
    },
    {
        .group = "DWServerEventsT12_ENTR",
        .deleteFlag = 12,
        .listWithItemsOption = "MasterDetEntrada",
        .headerListOption = "MasterEntrada",
        .itemListOption = "DetailEntrada",
        .saveOption = "GravaEntrada",
        .listWithItemsStatement =
            "Select T12_NumEntrada, T12_NumFornec, T12_Data, T12_NF, T12_Obs1, T12_Obs2, T05_Lote, T05_Validade, "
            "T05_Local, T05_Entradas, T05_Saidas, T05_NumMaterial, T13_NumLote, T13_Qtd, T13_Valor, "
            "(T13_Qtd * T13_Valor ) as T13_Total, (T05_Entradas - T05_Saidas) as T05_Saldo, T08_Fornecedor, "
            "T04_Material, T04_Unidade, T04_CodBarra From T12_ENT1,T13_ENT2,T05_LOTE, T08_FORN,T04_MATE Where "
            "T12_Exclusao is Null and T12_NumEntrada = T13_NumEntrada and T12_NumFornec = T08_NumFornec and "
            "T13_NumLote = T05_NumLote and T05_NumMaterial = T04_NumMaterial ",
        .headerListStatement =
            "Select T12_NumEntrada, T12_NumFornec, T12_Data, T12_NF, T12_Obs1, T12_Obs2, T08_Fornecedor, "
            "(Select Coalesce(Sum(T05_Saidas), 0.00000) From T13_ENT2, T05_LOTE Where T13_NumLote = T05_NumLote and "
            "T13_NumEntrada = T12_NumEntrada) as T12_TotalSaidas From T12_ENT1, T08_FORN Where T12_Exclusao is Null "
            "and T12_NumFornec = T08_NumFornec ",
        .dateFromCondition = "and T12_Data >= :p00 ",
        .dateToCondition = "and T12_Data <= :p01 ",
        .textCondition = "and T08_Fornecedor like :p02 ",
        .numberCondition = "and T12_NumEntrada = :p02 ",
        .sortKey = "T12_Data;T08_Fornecedor",
        .itemListStatement =
            "Select T13_NumEntrada, T05_Lote, T05_Validade, T05_Local, T05_Saidas, T05_NumMaterial, T13_NumLote, "
            "T13_Qtd, T13_Valor, (T13_Qtd * T13_Valor ) as T13_Total, (T05_Entradas - T05_Saidas) as T05_Saldo, "
            "T04_Material, T04_CodBarra From T13_ENT2, T05_LOTE, T04_MATE Where T13_NumEntrada = :p00 and "
            "T13_NumLote = T05_NumLote and T05_NumMaterial = T04_NumMaterial",
        .headerNumberField = "T12_NumEntrada",
        .headerUpdate = "Update T12_ENT1 Set T12_NumFornec = :p00, T12_Data = :p01, T12_Obs1 = :p02, T12_Obs2 = "
                        ":p03, T12_NF = :p04 Where T12_NumEntrada = :p05",
        .headerUpdateBindings = kEntryUpdate,
        .headerInsert = "Insert into T12_ENT1 (T12_NumFornec, T12_NumPedido, T12_Data, T12_NF, T12_Obs1, T12_Obs2) "
                        "Values (:p00, :p01, :p02, :p03, :p04, :p05)",
        .headerInsertBindings = kEntryInsert,
        .itemDelete = "Delete From T13_ENT2 Where T13_NumEntrada = :p00",
        .highestItemNumber = "Select Coalesce(Max(T13_NumEntrada), 0) as qMaiorNumero From T13_ENT2",
        .headerRenumber = "Update T12_ENT1 Set T12_NumEntrada = :p00 Where T12_NumEntrada = :p01",
        .itemInsert = "Insert into T13_ENT2 (T13_NumEntrada, T13_NumLote, T13_Qtd, T13_Valor) Values (:p00, :p01, "
                      ":p02, :p03)",
        .itemInsertBindings = kEntryItem,
        .itemsNameLots = true,
        .followUp = {"T12_NumPedido", "Update T10_PED1 Set T10_VirouEntrada = :p00 Where T10_NumPedido = :p01"},
        .headerDeletion =
            "Update T12_ENT1 Set T12_Exclusao = :p00, T12_ExcluidoPor = :p01 Where T12_NumEntrada = :p02",
        .itemDeletion = "Update T13_ENT2 Set T13_Exclusao = :p00 Where T13_NumEntrada = :p01",
    },
    {
        .group = "DWServerEventsT14_REQU",
        .deleteFlag = 14,
        .listWithItemsOption = "MasterDetRequis",
        .headerListOption = "MasterRequis",
        .itemListOption = "DetailRequis",
        .saveOption = "GravaRequis",
        .listWithItemsStatement =
            "Select T14_NumRequis, T14_NumUsuario, T14_Data, T14_VirouSaida, T14_Obs1, T14_Obs2, T15_NumMaterial, "
            "T15_Qtd, T04_Material, T04_Unidade, T01_Usuario From T14_REQ1, T15_REQ2, T04_MATE, T01_USUA Where "
            "T14_Exclusao is Null and T14_VirouSaida is Null and T14_NumRequis = T15_NumRequis and T14_NumUsuario = "
            "T01_NumUsuario and T15_NumMaterial = T04_NumMaterial ",
        .headerListStatement =
            "Select T14_NumRequis, T14_NumUsuario, T14_Data, T14_VirouSaida, T14_Obs1, T14_Obs2, T01_Usuario From "
            "T14_REQ1, T01_USUA Where T14_Exclusao is Null and T14_VirouSaida is Null and T14_NumUsuario = "
            "T01_NumUsuario ",
        .dateFromCondition = "and T14_Data >= :p00 ",
        .dateToCondition = "and T14_Data <= :p01 ",
        .textCondition = "and T01_Usuario like :p02 ",
        .numberCondition = "and T14_NumRequis = :p02 ",
        .sortKey = "T14_Data;T01_Usuario",
        .itemListStatement = "Select T15_NumRequis, T15_NumMaterial, T15_Qtd, T04_Material From T15_REQ2, T04_MATE "
                             "Where T15_NumRequis = :p00 and T15_NumMaterial = T04_NumMaterial",
        .headerNumberField = "T14_NumRequis",
        .headerUpdate = "Update T14_REQ1 Set T14_NumUsuario = :p00, T14_Data = :p01, T14_Obs1 = :p02, T14_Obs2 = "
                        ":p03 Where T14_NumRequis = :p04",
        .headerUpdateBindings = kRequisitionUpdate,
        .headerInsert =
            "Insert into T14_REQ1 (T14_NumUsuario, T14_Data, T14_Obs1, T14_Obs2) Values (:p00, :p01, :p02, :p03)",
        .headerInsertBindings = kRequisitionInsert,
        .itemDelete = "Delete From T15_REQ2 Where T15_NumRequis = :p00",
        .highestItemNumber = "Select Coalesce(Max(T15_NumRequis), 0) as qMaiorNumero From T15_REQ2",
        .headerRenumber = "Update T14_REQ1 Set T14_NumRequis = :p00 Where T14_NumRequis = :p01",
        .itemInsert = "Insert into T15_REQ2 (T15_NumRequis, T15_NumMaterial, T15_Qtd) Values (:p00, :p01, :p02)",
        .itemInsertBindings = kRequisitionItem,
        .itemsNameLots = false,
        .followUp = {},
        .headerDeletion =
            "Update T14_REQ1 Set T14_Exclusao = :p00, T14_ExcluidoPor = :p01 Where T14_NumRequis = :p02",
        .itemDeletion = "",
    },
    {
        .group = "DWServerEventsT16_SAID",
        .deleteFlag = 16,
        .listWithItemsOption = "MasterDetSaida",
        .headerListOption = "MasterSaida",
        .itemListOption = "DetailSaida",
        .saveOption = "GravaSaida",
        .listWithItemsStatement =
            "Select T16_NumSaida, T16_NumCC, T16_Data, T16_NF, T16_Obs1, T16_Obs2, T17_NumLote, T17_Qtd, "
            "T04_Material, T04_Unidade, T04_CodBarra, T05_NumMaterial, T05_Custo, T05_Lote, T05_Validade, "
            "T07_CentroCusto, T16_NumUsuario, T01_Usuario, 0.00000 as qTotal "
            "From T16_SAI1, T17_SAI2, T05_LOTE, T07_CENC, T04_MATE " QUELVAR_OUTPUT_USER_JOIN
            "Where T16_Exclusao is Null and T16_NumSaida = T17_NumSaida and T16_NumCC = T07_NumCC and "
            "T17_NumLote = T05_NumLote and T05_NumMaterial = T04_NumMaterial " QUELVAR_OUTPUT_USER_CONDITION,
        .headerListStatement =
            "Select T16_NumSaida, T16_NumCC, T16_Data, T16_NF, T16_Obs1, T16_Obs2, T07_CentroCusto, T16_NumUsuario, "
            "T01_Usuario From T16_SAI1, T07_CENC " QUELVAR_OUTPUT_USER_JOIN
            "Where T16_Exclusao is Null and T16_NumCC = T07_NumCC " QUELVAR_OUTPUT_USER_CONDITION,
        .dateFromCondition = "and T16_Data >= :p00 ",
        .dateToCondition = "and T16_Data <= :p01 ",
        .textCondition = "and T07_CentroCusto like :p02 ",
        .numberCondition = "and T16_NumSaida = :p02 ",
        .sortKey = "T16_Data;T07_CentroCusto",
        .itemListStatement =
            "Select T17_NumSaida, T17_NumLote, T17_Qtd, T05_NumMaterial, T05_Lote, T04_Material From T17_SAI2, "
            "T05_LOTE, T04_MATE Where T17_NumSaida = :p00 and T17_NumLote = T05_NumLote and T05_NumMaterial = "
            "T04_NumMaterial",
        .headerNumberField = "T16_NumSaida",
        .headerUpdate = "Update T16_SAI1 Set T16_NumCC = :p00, T16_Data = :p01, T16_Obs1 = :p02, T16_Obs2 = :p03, "
                        "T16_NF = :p04 Where T16_NumSaida = :p05",
        .headerUpdateBindings = kOutputUpdate,
        .headerInsert = "Insert into T16_SAI1 (T16_NumCC, T16_NumRequis, T16_Data, T16_NF, T16_NumUsuario, "
                        "T16_Obs1, T16_Obs2) Values (:p00, :p01, :p02, :p03, :p04, :p05, :p06)",
        .headerInsertBindings = kOutputInsert,
        .itemDelete = "Delete From T17_SAI2 Where T17_NumSaida = :p00",
        .highestItemNumber = "Select Coalesce(Max(T17_NumSaida), 0) as qMaiorNumero From T17_SAI2",
        .headerRenumber = "Update T16_SAI1 Set T16_NumSaida = :p00 Where T16_NumSaida = :p01",
        .itemInsert = "Insert into T17_SAI2 (T17_NumSaida, T17_NumLote, T17_Qtd) Values (:p00, :p01, :p02)",
        .itemInsertBindings = kOutputItem,
        .itemsNameLots = false,
        .followUp = {"T16_NumRequis", "Update T14_REQ1 Set T14_VirouSaida = :p00 Where T14_NumRequis = :p01"},
        .headerDeletion = "Update T16_SAI1 Set T16_Exclusao = :p00, T16_ExcluidoPor = :p01 Where T16_NumSaida = :p02",
        .itemDeletion = "Update T17_SAI2 Set T17_Exclusao = :p00 Where T17_NumSaida = :p01",
    },
    {
        .group = "DWServerEventsT18_PERD",
        .deleteFlag = 18,
        .listWithItemsOption = "MasterDetPerda",
        .headerListOption = "MasterPerda",
        .itemListOption = "DetailPerda",
        .saveOption = "GravaPerda",
        .listWithItemsStatement =
            "Select T18_NumPerda, T18_Data, T18_Obs1, T18_Obs2, T19_NumLote, T19_Qtd, T04_Material, T04_Unidade, "
            "T05_NumMaterial, T05_Validade, T05_Lote From T18_PER1, T19_PER2, T05_LOTE, T04_MATE Where "
            "T18_Exclusao is Null and T18_NumPerda = T19_NumPerda and T19_NumLote = T05_NumLote and "
            "T05_NumMaterial = T04_NumMaterial ",
        .headerListStatement =
            "Select Distinct T18_NumPerda, T18_Data, T18_Obs1, T18_Obs2, T04_Material, T05_Lote From T18_PER1, "
            "T19_PER2, T05_LOTE, T04_MATE Where T18_Exclusao is Null and T18_NumPerda = T19_NumPerda and "
            "T19_NumLote = T05_NumLote and T05_NumMaterial = T04_NumMaterial ",
        .dateFromCondition = "and T18_Data >= :p00 ",
        .dateToCondition = "and T18_Data <= :p01 ",
        .textCondition = "and T04_Material like :p02 ",
        .numberCondition = "and T18_NumPerda = :p02 ",
        .sortKey = "T18_Data;T04_Material",
        .itemListStatement =
            "Select T19_NumPerda, T19_NumLote, T19_Qtd, T05_NumMaterial, T05_Lote, T04_Material From T19_PER2, "
            "T05_LOTE, T04_MATE Where T19_NumPerda = :p00 and T19_NumLote = T05_NumLote and T05_NumMaterial = "
            "T04_NumMaterial",
        .headerNumberField = "T18_NumPerda",
        .headerUpdate =
            "Update T18_PER1 Set T18_Data = :p00, T18_Obs1 = :p01, T18_Obs2 = :p02 Where T18_NumPerda = :p03",
        .headerUpdateBindings = kLossUpdate,
        .headerInsert = "Insert into T18_PER1 (T18_Data, T18_Obs1, T18_Obs2) Values (:p00, :p01, :p02)",
        .headerInsertBindings = kLossInsert,
        .itemDelete = "Delete From T19_PER2 Where T19_NumPerda = :p00",
        .highestItemNumber = "Select Coalesce(Max(T19_NumPerda), 0) as qMaiorNumero From T19_PER2",
        .headerRenumber = "Update T18_PER1 Set T18_NumPerda = :p00 Where T18_NumPerda = :p01",
        .itemInsert = "Insert into T19_PER2 (T19_NumPerda, T19_NumLote, T19_Qtd) Values (:p00, :p01, :p02)",
        .itemInsertBindings = kLossItem,
        .itemsNameLots = false,
        .followUp = {},
        .headerDeletion = "Update T18_PER1 Set T18_Exclusao = :p00, T18_ExcluidoPor = :p01 Where T18_NumPerda = :p02",
        .itemDeletion = "Update T19_PER2 Set T19_Exclusao = :p00 Where T19_NumPerda = :p01",
    },
}};

#undef QUELVAR_OUTPUT_USER_JOIN
#undef QUELVAR_OUTPUT_USER_CONDITION

}  // namespace

std::span<const DocumentKind> DocumentKinds() { return kKinds; }

const DocumentKind& DocumentKindOfFlag(int flag) {
  for (const DocumentKind& kind : kKinds)
    if (kind.deleteFlag == flag) return kind;
  throw Error("No document kind has flag " + std::to_string(flag));
}

}  // namespace quelvar::inventory
