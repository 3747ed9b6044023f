# -*- coding: utf-8 -*-
# 日本語の翻訳
tr = {}
tr['Open'] = r'開く'
tr['Open file'] = r'ファイルを開く'
tr['File %1$s saved'] = r'ファイル %1$s を保存しました'
tr['Value %1$s of %2$d'] = r'%2$d の %1$s'
tr['%1$d of %2$d elements selected'] = r'%2$d 個中 %1$d 個の要素を選択しました'
tr['Size: %1$5.1f MB'] = r'サイズ: %1$5.1f MB'
tr['Close\@menu'] = r'閉じる'
tr['Close\@window'] = r'ウィンドウを閉じる'
